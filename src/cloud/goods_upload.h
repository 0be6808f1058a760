// Upload of 1C's goods file to the service.
#pragma once

#include <string>

// Sends the goods XML `textXML`, unparsed, as one JSON string value in a
// data-pack request, and puts the service's whole answer into exportAnswer.
// The text is taken by value so that it can be released as soon as the
// request body holds it. Returns true when the upload completed with an HTTP
// status below 400; otherwise `error` names the request and the reason.
bool send1CexportData(std::string textXML, std::string& exportAnswer, std::string& error);
