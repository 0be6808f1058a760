// The service's accounts, cash registers and fiscal documents.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace cloudsim {

struct Document {
    int64_t id = 0;
    int64_t docNo = 0;
    int docKind = 0;
    std::string docDt;
    int64_t instantMs = 0;  // docDt as an instant
    std::string text;       // the document object exactly as answered
};

struct Register {
    std::string kkmNum;
    std::vector<Document> docs;  // ordered by instant, then docNo
};

struct Account {
    std::string login;
    std::string password;
    std::string idSession;
    std::string nameUser;
    int64_t idUser = 0;
    int64_t idDealer = 0;
    std::vector<Register> registers;

    const Register* findRegister(const std::string& kkmNum) const;
};

struct DataSet {
    std::vector<Account> accounts;

    const Account* findByLogin(const std::string& login, const std::string& password) const;
    const Account* findBySession(const std::string& idSession) const;
};

// Builds the data set from the text of a data file (format in sim/README.md).
// Throws std::runtime_error naming the faulty entry.
DataSet parseDataSet(const std::string& jsonText);

// Reads and parses a data file. Throws std::runtime_error.
DataSet loadDataFile(const std::string& path);

// The document object as the service answers it: members id, docNo, kkmNum,
// docKind, docDt and body in that order; body is the fiscal document's JSON
// text as an escaped string. A null bodyText leaves the body member out.
std::string renderDocument(int64_t id, int64_t docNo, const std::string& kkmNum, int docKind,
                           const std::string& docDt, const std::string* bodyText);

// Reads a whole file as bytes. Throws std::runtime_error.
std::string readWholeFile(const std::string& path);

}  // namespace cloudsim
