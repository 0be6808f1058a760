// What the service answers, apart from the HTTP plumbing.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "store.h"

namespace cloudsim {

struct Reply {
    int status = 200;
    std::string contentType = "application/json";
    std::string body;
};

// An error answer: {"type":"about:blank","title":...,"status":...} with
// an optional "detail", as application/problem+json.
Reply problemReply(int status, const std::string& detail = std::string());

// The reason phrase used as a problem title ("Not Found" for 404 ...).
std::string statusTitle(int status);

// Decodes %XX sequences; every other byte, '+' included, stays as it is.
std::string percentDecode(const std::string& text);

// The value of the first name=value pair of a query string (the text after
// '?', pairs split at '&'), percent-decoded. False when the name is absent.
bool queryValue(const std::string& query, const std::string& name, std::string& value);

// Account names turned into file-name parts: bytes other than ASCII
// letters, digits, '.', '-' and '_' become '_'; "" becomes "_".
std::string safeFileNamePart(const std::string& text);

class Service {
public:
    Service(DataSet data, std::string stateDir);

    // Dispatch by method and by how the path ends. target is the request
    // target as received (path and query), body the raw request body.
    Reply handle(const std::string& method, const std::string& path, const std::string& target,
                 const std::string& body);

    Reply login(const std::string& target) const;
    Reply dataPack(const std::string& body);

    const DataSet& data() const { return data_; }

private:
    Reply storeGoods(const Account& account, const std::string& xml);

    DataSet data_;
    std::string stateDir_;
    std::atomic<uint64_t> uploads_{0};
};

}  // namespace cloudsim
