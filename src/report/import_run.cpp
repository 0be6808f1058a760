#include "report/import_run.h"

#include "cloud/document_query.h"
#include "report/import_document.h"

DocumentQuery serviceDocumentQuery() {
  return [](const std::string& dateFrom, const std::string& dateTo, const std::string& kinds, std::string& error) {
    std::string docs = getAllDocsByKind(dateFrom, dateTo, kinds);
    error = lastDocumentQueryError();
    return docs;
  };
}

int runImport(const std::string& fileName, const std::string& configFileName) {
  return runImport(fileName, configFileName, serviceDocumentQuery());
}
