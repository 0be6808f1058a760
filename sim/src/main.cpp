// cloud-sim: a stand-in for the cash-register cloud service, for tests,
// demos and benchmarks.
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "generator.h"
#include "goods_file.h"
#include "server.h"

namespace {

const char* const kUsage =
    "usage:\n"
    "  cloud-sim serve [--data FILE] [--host ADDR] [--port N] [--state DIR]\n"
    "                  [--cert FILE --key FILE] [--log-dir DIR] [--fault N:ACTION]...\n"
    "      ACTION: status=CODE | close=BYTES | delay=MS | garbage\n"
    "  cloud-sim generate --out FILE [--shifts N] [--checks M] [--goods G] [--cash K]\n"
    "                  [--open-shift] [--start YYYY-MM-DDTHH:MM:SS] [--seed S]\n"
    "                  [--kkm NUM] [--login L] [--password P] [--drive-change N] [--varied]\n"
    "  cloud-sim goods --size-mb N --out FILE [--seed S]\n";

int usageError(const std::string& message) {
    std::cerr << "cloud-sim: " << message << "\n" << kUsage;
    return 2;
}

bool toInt64(const std::string& text, int64_t& out) {
    if (text.empty() || text.size() > 18) return false;
    size_t i = text[0] == '-' ? 1 : 0;
    if (i >= text.size()) return false;
    int64_t v = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        v = v * 10 + (text[i] - '0');
    }
    out = text[0] == '-' ? -v : v;
    return true;
}

// Walks "--name value" pairs; flags listed in `flags` take no value.
class Args {
public:
    Args(int argc, char** argv, int first) {
        for (int i = first; i < argc; ++i) items_.emplace_back(argv[i]);
    }
    bool next(std::string& name, std::string& value, const std::vector<std::string>& flags, std::string& error) {
        if (pos_ >= items_.size()) return false;
        name = items_[pos_++];
        value.clear();
        for (const auto& f : flags)
            if (f == name) return true;
        if (name.size() < 3 || name.compare(0, 2, "--") != 0) {
            error = "unexpected argument " + name;
            return true;
        }
        if (pos_ >= items_.size()) {
            error = name + " needs a value";
            return true;
        }
        value = items_[pos_++];
        return true;
    }

private:
    std::vector<std::string> items_;
    size_t pos_ = 0;
};

int serveCommand(int argc, char** argv) {
    cloudsim::ServeOptions o;
    Args args(argc, argv, 2);
    std::string name, value, error;
    while (args.next(name, value, {}, error)) {
        if (!error.empty()) return usageError(error);
        int64_t n = 0;
        if (name == "--data") o.dataFile = value;
        else if (name == "--host") o.host = value;
        else if (name == "--port") {
            if (!toInt64(value, n) || n < 0 || n > 65535) return usageError("--port must be 0..65535");
            o.port = static_cast<int>(n);
        } else if (name == "--state") o.stateDir = value;
        else if (name == "--cert") o.certFile = value;
        else if (name == "--key") o.keyFile = value;
        else if (name == "--log-dir") o.logDir = value;
        else if (name == "--fault") {
            cloudsim::Fault f;
            std::string why;
            if (!cloudsim::parseFault(value, f, why)) return usageError("--fault " + value + ": " + why);
            o.faults.push_back(f);
        } else {
            return usageError("unknown option " + name);
        }
    }
    return cloudsim::runServer(o);
}

bool openOutput(const std::string& path, std::ofstream& file) {
    file.open(path, std::ios::binary | std::ios::trunc);
    if (!file) std::cerr << "cloud-sim: cannot write " << path << "\n";
    return static_cast<bool>(file);
}

int generateCommand(int argc, char** argv) {
    cloudsim::GenOptions o;
    std::string out;
    Args args(argc, argv, 2);
    std::string name, value, error;
    while (args.next(name, value, {"--open-shift", "--varied"}, error)) {
        if (!error.empty()) return usageError(error);
        int64_t n = 0;
        auto number = [&](int64_t& target) {
            if (!toInt64(value, n)) return false;
            target = n;
            return true;
        };
        bool ok = true;
        if (name == "--out") out = value;
        else if (name == "--shifts") ok = number(o.shifts);
        else if (name == "--checks") ok = number(o.checks);
        else if (name == "--goods") ok = number(o.goods);
        else if (name == "--cash") ok = number(o.cash);
        else if (name == "--open-shift") o.openShift = true;
        else if (name == "--varied") o.varied = true;
        else if (name == "--drive-change") ok = number(o.driveChangeAfter);
        else if (name == "--start") o.start = value;
        else if (name == "--seed") {
            ok = toInt64(value, n) && n >= 0;
            o.seed = static_cast<uint64_t>(n);
        } else if (name == "--kkm") o.kkm = value;
        else if (name == "--login") o.login = value;
        else if (name == "--password") o.password = value;
        else return usageError("unknown option " + name);
        if (!ok) return usageError(name + " needs a whole number");
    }
    if (out.empty()) return usageError("--out is required");
    const std::string problem = cloudsim::validateOptions(o);
    if (!problem.empty()) return usageError(problem);
    std::ofstream file;
    if (!openOutput(out, file)) return 1;
    cloudsim::writeDataFile(o, file);
    file.close();
    if (!file) {
        std::cerr << "cloud-sim: cannot write " << out << "\n";
        return 1;
    }
    return 0;
}

int goodsCommand(int argc, char** argv) {
    double sizeMb = -1;
    int64_t seed = 1;
    std::string out;
    Args args(argc, argv, 2);
    std::string name, value, error;
    while (args.next(name, value, {}, error)) {
        if (!error.empty()) return usageError(error);
        if (name == "--out") out = value;
        else if (name == "--size-mb") {
            char* end = nullptr;
            sizeMb = std::strtod(value.c_str(), &end);
            if (value.empty() || end == nullptr || *end != '\0' || !(sizeMb >= 0) || sizeMb > 4096)
                return usageError("--size-mb must be a number from 0 to 4096");
        } else if (name == "--seed") {
            if (!toInt64(value, seed) || seed < 0) return usageError("--seed needs a whole number");
        } else {
            return usageError("unknown option " + name);
        }
    }
    if (out.empty()) return usageError("--out is required");
    if (sizeMb < 0) return usageError("--size-mb is required");
    std::ofstream file;
    if (!openOutput(out, file)) return 1;
    cloudsim::writeGoodsFile(file, sizeMb, static_cast<uint64_t>(seed));
    file.close();
    if (!file) {
        std::cerr << "cloud-sim: cannot write " << out << "\n";
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usageError("a command is required");
    const std::string command = argv[1];
    if (command == "serve") return serveCommand(argc, argv);
    if (command == "generate") return generateCommand(argc, argv);
    if (command == "goods") return goodsCommand(argc, argv);
    if (command == "--help" || command == "-h" || command == "help") {
        std::cout << kUsage;
        return 0;
    }
    return usageError("unknown command " + command);
}
