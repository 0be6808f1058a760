#include "store.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "datetime.h"
#include "json_text.h"

namespace cloudsim {

using Json = nlohmann::ordered_json;

const Register* Account::findRegister(const std::string& kkmNum) const {
    for (const auto& reg : registers)
        if (reg.kkmNum == kkmNum) return &reg;
    return nullptr;
}

const Account* DataSet::findByLogin(const std::string& login, const std::string& password) const {
    for (const auto& acc : accounts)
        if (acc.login == login && acc.password == password) return &acc;
    return nullptr;
}

const Account* DataSet::findBySession(const std::string& idSession) const {
    if (idSession.empty()) return nullptr;
    for (const auto& acc : accounts)
        if (acc.idSession == idSession) return &acc;
    return nullptr;
}

std::string renderDocument(int64_t id, int64_t docNo, const std::string& kkmNum, int docKind,
                           const std::string& docDt, const std::string* bodyText) {
    std::string out;
    out.reserve(96 + kkmNum.size() + docDt.size() + (bodyText ? bodyText->size() * 5 / 4 : 0));
    out += "{\"id\":";
    out += std::to_string(id);
    out += ",\"docNo\":";
    out += std::to_string(docNo);
    out += ",\"kkmNum\":";
    appendJsonQuoted(out, kkmNum);
    out += ",\"docKind\":";
    out += std::to_string(docKind);
    out += ",\"docDt\":";
    appendJsonQuoted(out, docDt);
    if (bodyText) {
        out += ",\"body\":";
        appendJsonQuoted(out, *bodyText);
    }
    out += "}";
    return out;
}

namespace {

[[noreturn]] void fail(const std::string& where, const std::string& what) {
    throw std::runtime_error(where + ": " + what);
}

const Json& member(const Json& obj, const char* key, const std::string& where) {
    const auto it = obj.find(key);
    if (it == obj.end()) fail(where, std::string("missing \"") + key + "\"");
    return *it;
}

std::string stringMember(const Json& obj, const char* key, const std::string& where) {
    const Json& v = member(obj, key, where);
    if (!v.is_string()) fail(where, std::string("\"") + key + "\" must be a string");
    return v.get<std::string>();
}

int64_t intMember(const Json& obj, const char* key, const std::string& where) {
    const Json& v = member(obj, key, where);
    if (!v.is_number_integer()) fail(where, std::string("\"") + key + "\" must be an integer");
    return v.get<int64_t>();
}

Document parseDocument(const Json& d, const std::string& kkmNum, const std::string& where) {
    if (!d.is_object()) fail(where, "a document must be an object");
    Document doc;
    doc.id = intMember(d, "id", where);
    doc.docNo = intMember(d, "docNo", where);
    const int64_t kind = intMember(d, "docKind", where);
    if (kind < -2147483647 || kind > 2147483647) fail(where, "docKind out of range");
    doc.docKind = static_cast<int>(kind);
    doc.docDt = stringMember(d, "docDt", where);
    const auto instant = parseInstantMs(doc.docDt);
    if (!instant) fail(where, "docDt is not a date-time: " + doc.docDt);
    doc.instantMs = *instant;

    std::string docKkm = kkmNum;
    if (d.contains("kkmNum")) docKkm = stringMember(d, "kkmNum", where);

    if (d.contains("raw")) {
        doc.text = stringMember(d, "raw", where);
        return doc;
    }
    const auto body = d.find("body");
    if (body == d.end() || body->is_null()) {
        doc.text = renderDocument(doc.id, doc.docNo, docKkm, doc.docKind, doc.docDt, nullptr);
    } else if (body->is_string()) {
        const std::string bodyText = body->get<std::string>();
        doc.text = renderDocument(doc.id, doc.docNo, docKkm, doc.docKind, doc.docDt, &bodyText);
    } else if (body->is_object()) {
        const std::string bodyText = body->dump();
        doc.text = renderDocument(doc.id, doc.docNo, docKkm, doc.docKind, doc.docDt, &bodyText);
    } else {
        fail(where, "\"body\" must be an object or a string");
    }
    return doc;
}

}  // namespace

DataSet parseDataSet(const std::string& jsonText) {
    Json root;
    try {
        root = Json::parse(jsonText);
    } catch (const Json::parse_error& e) {
        throw std::runtime_error(std::string("data file is not valid JSON: ") + e.what());
    }
    if (!root.is_object()) fail("data file", "the top level must be an object");
    DataSet data;
    const auto accounts = root.find("accounts");
    if (accounts == root.end()) return data;
    if (!accounts->is_array()) fail("data file", "\"accounts\" must be an array");
    size_t accIndex = 0;
    for (const Json& a : *accounts) {
        const std::string where = "accounts[" + std::to_string(accIndex++) + "]";
        if (!a.is_object()) fail(where, "an account must be an object");
        Account acc;
        acc.login = stringMember(a, "login", where);
        acc.password = stringMember(a, "password", where);
        acc.idSession = stringMember(a, "idSession", where);
        acc.nameUser = a.contains("nameUser") ? stringMember(a, "nameUser", where) : acc.login;
        acc.idUser = intMember(a, "idUser", where);
        acc.idDealer = intMember(a, "idDealer", where);
        if (acc.idSession.empty()) fail(where, "idSession must not be empty");
        for (const auto& other : data.accounts)
            if (other.idSession == acc.idSession) fail(where, "idSession used twice");
        const auto regs = a.find("registers");
        if (regs != a.end()) {
            if (!regs->is_array()) fail(where, "\"registers\" must be an array");
            size_t regIndex = 0;
            for (const Json& r : *regs) {
                const std::string rwhere = where + ".registers[" + std::to_string(regIndex++) + "]";
                if (!r.is_object()) fail(rwhere, "a register must be an object");
                Register reg;
                reg.kkmNum = stringMember(r, "kkmNum", rwhere);
                const auto docs = r.find("documents");
                if (docs != r.end()) {
                    if (!docs->is_array()) fail(rwhere, "\"documents\" must be an array");
                    reg.docs.reserve(docs->size());
                    size_t docIndex = 0;
                    for (const Json& d : *docs)
                        reg.docs.push_back(parseDocument(
                            d, reg.kkmNum, rwhere + ".documents[" + std::to_string(docIndex++) + "]"));
                }
                std::stable_sort(reg.docs.begin(), reg.docs.end(),
                                 [](const Document& x, const Document& y) {
                                     if (x.instantMs != y.instantMs) return x.instantMs < y.instantMs;
                                     return x.docNo < y.docNo;
                                 });
                acc.registers.push_back(std::move(reg));
            }
        }
        data.accounts.push_back(std::move(acc));
    }
    return data;
}

std::string readWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot open " + path);
    std::string text;
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    in.seekg(0, std::ios::beg);
    if (size > 0) {
        text.resize(static_cast<size_t>(size));
        in.read(&text[0], size);
        if (in.gcount() != size) throw std::runtime_error("cannot read " + path);
    } else {
        // Not a regular file (a pipe, say): read to the end.
        std::ostringstream ss;
        ss << in.rdbuf();
        text = ss.str();
    }
    return text;
}

DataSet loadDataFile(const std::string& path) {
    return parseDataSet(readWholeFile(path));
}

}  // namespace cloudsim
