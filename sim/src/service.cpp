#include "service.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <unistd.h>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "datetime.h"
#include "json_text.h"

namespace cloudsim {

using Json = nlohmann::json;

std::string statusTitle(int status) {
    switch (status) {
        case 400: return "Bad Request";
        case 401: return "Unauthorized";
        case 403: return "Forbidden";
        case 404: return "Not Found";
        case 405: return "Method Not Allowed";
        case 408: return "Request Timeout";
        case 409: return "Conflict";
        case 413: return "Payload Too Large";
        case 429: return "Too Many Requests";
        case 500: return "Internal Server Error";
        case 501: return "Not Implemented";
        case 502: return "Bad Gateway";
        case 503: return "Service Unavailable";
        case 504: return "Gateway Timeout";
        default: return status >= 500 ? "Server Error" : "Error";
    }
}

Reply problemReply(int status, const std::string& detail) {
    Reply r;
    r.status = status;
    r.contentType = "application/problem+json";
    r.body = "{\"type\":\"about:blank\",\"title\":";
    appendJsonQuoted(r.body, statusTitle(status));
    r.body += ",\"status\":" + std::to_string(status);
    if (!detail.empty()) {
        r.body += ",\"detail\":";
        appendJsonQuoted(r.body, detail);
    }
    r.body += "}";
    return r;
}

std::string percentDecode(const std::string& text) {
    auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hex(text[i + 1]) >= 0 && hex(text[i + 2]) >= 0) {
            out.push_back(static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2])));
            i += 2;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

bool queryValue(const std::string& query, const std::string& name, std::string& value) {
    size_t start = 0;
    while (start <= query.size()) {
        size_t end = query.find('&', start);
        if (end == std::string::npos) end = query.size();
        const std::string pair = query.substr(start, end - start);
        const size_t eq = pair.find('=');
        const std::string key = pair.substr(0, eq);
        if (percentDecode(key) == name) {
            value = eq == std::string::npos ? std::string() : percentDecode(pair.substr(eq + 1));
            return true;
        }
        start = end + 1;
    }
    return false;
}

std::string safeFileNamePart(const std::string& text) {
    if (text.empty()) return "_";
    std::string out = text;
    for (char& c : out) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                        c == '.' || c == '-' || c == '_';
        if (!ok) c = '_';
    }
    if (out == "." || out == "..") out = "_";
    return out;
}

Service::Service(DataSet data, std::string stateDir)
    : data_(std::move(data)), stateDir_(std::move(stateDir)) {}

namespace {

bool endsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// The session of a data pack, or a 401 answer in reply.
const Account* sessionAccount(const DataSet& data, const Json& pack, Reply& reply) {
    const Json* id = nullptr;
    if (pack.is_object()) {
        const auto session = pack.find("session");
        if (session != pack.end() && session->is_object()) {
            const auto it = session->find("idSession");
            if (it != session->end() && it->is_string()) id = &*it;
        }
    }
    const Account* account = id ? data.findBySession(id->get<std::string>()) : nullptr;
    if (!account) reply = problemReply(401, "unknown or missing session");
    return account;
}

std::vector<std::string> stringList(const Json& obj, const char* key) {
    std::vector<std::string> out;
    const auto it = obj.find(key);
    if (it == obj.end() || !it->is_array()) return out;
    for (const Json& v : *it)
        if (v.is_string()) out.push_back(v.get<std::string>());
    return out;
}

std::vector<int64_t> intList(const Json& obj, const char* key) {
    std::vector<int64_t> out;
    const auto it = obj.find(key);
    if (it == obj.end() || !it->is_array()) return out;
    for (const Json& v : *it)
        if (v.is_number_integer()) out.push_back(v.get<int64_t>());
    return out;
}

// A date bound of a command; empty or unreadable texts give nothing, and a
// command with such a bound matches no document.
std::optional<int64_t> dateBound(const Json& command, const char* key) {
    const auto it = command.find(key);
    if (it == command.end() || !it->is_string()) return std::nullopt;
    return parseInstantMs(it->get<std::string>());
}

Reply documentsReply(const Account& account, const Json& commands) {
    std::vector<const Document*> found;
    for (const Json& command : commands) {
        if (!command.is_object()) continue;
        const auto from = dateBound(command, "dateFrom");
        const auto to = dateBound(command, "dateTo");
        if (!from || !to || *from > *to) continue;
        const auto kinds = intList(command, "kinds");
        for (const std::string& serial : stringList(command, "serialNumbers")) {
            const Register* reg = account.findRegister(serial);
            if (!reg) continue;
            auto first = std::lower_bound(reg->docs.begin(), reg->docs.end(), *from,
                                          [](const Document& d, int64_t t) { return d.instantMs < t; });
            for (auto it = first; it != reg->docs.end() && it->instantMs <= *to; ++it)
                if (std::find(kinds.begin(), kinds.end(), it->docKind) != kinds.end())
                    found.push_back(&*it);
        }
    }
    std::sort(found.begin(), found.end(), [](const Document* a, const Document* b) {
        if (a->docNo != b->docNo) return a->docNo < b->docNo;
        if (a->instantMs != b->instantMs) return a->instantMs < b->instantMs;
        return a->id < b->id;
    });
    found.erase(std::unique(found.begin(), found.end()), found.end());

    size_t size = 40;
    for (const Document* d : found) size += d->text.size() + 1;
    Reply r;
    r.body.reserve(size);
    r.body = "{\"result\":0,\"data\":{\"kkmDocs\":[";
    for (size_t i = 0; i < found.size(); ++i) {
        if (i > 0) r.body.push_back(',');
        r.body += found[i]->text;
    }
    // The array's bracket and two braces must be the very last bytes.
    r.body += "]}}";
    return r;
}

}  // namespace

Reply Service::handle(const std::string& method, const std::string& path, const std::string& target,
                      const std::string& body) {
    if ((method == "GET" || method == "HEAD") && endsWith(path, "LoginSession")) return login(target);
    if (method == "POST" && endsWith(path, "WebDataPackPost")) return dataPack(body);
    return problemReply(404, "no such resource");
}

Reply Service::login(const std::string& target) const {
    const size_t q = target.find('?');
    const std::string query = q == std::string::npos ? std::string() : target.substr(q + 1);
    std::string login, password;
    if (!queryValue(query, "login", login) || !queryValue(query, "password", password))
        return problemReply(401, "login and password are required");
    const Account* acc = data_.findByLogin(login, password);
    if (!acc) return problemReply(401, "wrong login or password");
    Reply r;
    r.body = "{\"idSession\":";
    appendJsonQuoted(r.body, acc->idSession);
    r.body += ",\"nameUser\":";
    appendJsonQuoted(r.body, acc->nameUser);
    // idDealer is read up to the next comma, so another member follows it.
    r.body += ",\"idUser\":" + std::to_string(acc->idUser) + ",\"idDealer\":" +
              std::to_string(acc->idDealer) + ",\"result\":0}";
    return r;
}

Reply Service::dataPack(const std::string& body) {
    // The goods XML may hold bytes that are not UTF-8, which the JSON
    // parser refuses: that one string is cut out and decoded here, and the
    // rest of the pack is parsed without it.
    StringMember goods;
    const bool hasGoods = findStringMember(body, "import1cXmlTovars", goods);
    Json pack;
    try {
        if (hasGoods)
            pack = Json::parse(body.substr(0, goods.valueBegin) + body.substr(goods.valueEnd));
        else
            pack = Json::parse(body);
    } catch (const Json::exception&) {
        return problemReply(400, "the data pack is not valid JSON");
    }
    Reply reply;
    const Account* account = sessionAccount(data_, pack, reply);
    if (!account) return reply;

    const Json* ext = nullptr;
    const auto params = pack.find("params");
    if (params != pack.end() && params->is_object()) {
        const auto it = params->find("ext");
        if (it != params->end() && it->is_object()) ext = &*it;
    }
    if (!ext) return problemReply(400, "params.ext is missing");

    if (hasGoods && ext->contains("import1cXmlTovars"))
        return storeGoods(*account, decodeJsonStringContent(body, goods.valueBegin, goods.valueEnd));

    const auto commands = ext->find("getDocumentsCommands");
    if (commands != ext->end() && commands->is_array()) return documentsReply(*account, *commands);
    return problemReply(400, "unknown data pack command");
}

Reply Service::storeGoods(const Account& account, const std::string& xml) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path dir = stateDir_.empty() ? fs::path(".") : fs::path(stateDir_);
    fs::create_directories(dir, ec);
    const fs::path target = dir / ("goods-" + safeFileNamePart(account.login) + ".xml");
    const fs::path temp = dir / (".goods-" + safeFileNamePart(account.login) + ".tmp." +
                                 std::to_string(::getpid()) + "." + std::to_string(++uploads_));
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out.write(xml.data(), static_cast<std::streamsize>(xml.size()));
        out.close();
        if (!out) {
            fs::remove(temp, ec);
            return problemReply(500, "cannot store the goods file");
        }
    }
    fs::rename(temp, target, ec);
    if (ec) {
        fs::remove(temp, ec);
        return problemReply(500, "cannot store the goods file");
    }
    Reply r;
    r.body = "{\"result\":0,\"message\":\"goods accepted\",\"bytes\":" + std::to_string(xml.size()) + "}";
    return r;
}

}  // namespace cloudsim
