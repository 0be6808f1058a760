// The import run against the cash-register cloud service.
#pragma once

#include <string>

#include "report/shift_intervals.h"

// The document query of the service: getAllDocsByKind, with the failure that
// lastDocumentQueryError reports handed back as the query's error.
DocumentQuery serviceDocumentQuery();

// Runs the import once: the fiscal documents of the configured cash register
// since lastDocDT become the ImportData file `fileName`, and lastDocDT in
// `configFileName` moves to the last reported shift close. Expects the basic
// settings read and the session logged in. Returns kExitOk or kExitRunFailed.
int runImport(const std::string& fileName, const std::string& configFileName);
