#include "sim/transport/scenario_json.h"

#include <cstdio>
#include <fstream>
#include <limits>
#include <set>
#include <sstream>
#include <stdexcept>

namespace sim {

namespace {

using nlohmann::json;

// Largest byte field a scenario may ask for (a log or an area's content).
constexpr uint64_t kMaxBytes = 64ull * 1024 * 1024;
// Largest search record that still fits one datagram with its header.
constexpr uint64_t kMaxSearchRecord = 65507 - 6;

struct BadKey : std::runtime_error {
    using std::runtime_error::runtime_error;
};

[[noreturn]] void Fail(const std::string& key, const std::string& what) {
    throw BadKey("key '" + key + "': " + what);
}

std::string Join(const std::string& base, const std::string& key) {
    return base.empty() ? key : base + "." + key;
}

std::string Index(const std::string& base, size_t i) {
    return base + "[" + std::to_string(i) + "]";
}

void CheckKeys(const json& obj, const std::string& where, const std::set<std::string>& allowed) {
    for (auto it = obj.begin(); it != obj.end(); ++it)
        if (!allowed.count(it.key())) Fail(Join(where, it.key()), "unknown key");
}

const json& RequireObject(const json& v, const std::string& key) {
    if (!v.is_object()) Fail(key, "expected an object");
    return v;
}

uint64_t Number(const json& v, const std::string& key, uint64_t min, uint64_t max) {
    const std::string range = "expected a whole number from " + std::to_string(min) + " to " +
                              std::to_string(max);
    uint64_t n = 0;
    if (v.is_number_unsigned()) {
        n = v.get<uint64_t>();
    } else if (v.is_number_integer()) {
        Fail(key, range);  // negative
    } else if (v.is_string()) {
        const std::string s = v.get<std::string>();
        const bool hex = s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X');
        const std::string digits = hex ? s.substr(2) : s;
        if (digits.empty() || digits.size() > 16) Fail(key, range + ", got \"" + s + "\"");
        for (char c : digits) {
            int d;
            if (c >= '0' && c <= '9') d = c - '0';
            else if (hex && c >= 'a' && c <= 'f') d = c - 'a' + 10;
            else if (hex && c >= 'A' && c <= 'F') d = c - 'A' + 10;
            else Fail(key, range + ", got \"" + s + "\"");
            const uint64_t base = hex ? 16 : 10;
            if (n > (std::numeric_limits<uint64_t>::max() - d) / base)
                Fail(key, range + ", got \"" + s + "\"");
            n = n * base + static_cast<uint64_t>(d);
        }
    } else {
        Fail(key, range);
    }
    if (n < min || n > max) Fail(key, range + ", got " + std::to_string(n));
    return n;
}

uint32_t U32(const json& v, const std::string& key, uint32_t min = 0,
             uint32_t max = std::numeric_limits<uint32_t>::max()) {
    return static_cast<uint32_t>(Number(v, key, min, max));
}

uint8_t U8(const json& v, const std::string& key) {
    return static_cast<uint8_t>(Number(v, key, 0, 255));
}

std::string Text(const json& v, const std::string& key, size_t maxLen) {
    if (!v.is_string()) Fail(key, "expected a text");
    const std::string s = v.get<std::string>();
    if (s.size() > maxLen)
        Fail(key, "longer than " + std::to_string(maxLen) + " characters: \"" + s + "\"");
    for (unsigned char c : s)
        if (c < 0x20 || c > 0x7E) Fail(key, "only printable ASCII characters are allowed");
    return s;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::vector<uint8_t> Bytes(const json& v, const std::string& key, uint64_t maxSize) {
    std::vector<uint8_t> out;
    if (v.is_string()) {
        const std::string s = v.get<std::string>();
        int high = -1;
        for (size_t i = 0; i < s.size(); ++i) {
            const char c = s[i];
            if (c == ' ' || c == '\t' || c == '\n') {
                if (high >= 0) Fail(key, "hex byte cut by a blank at position " + std::to_string(i));
                continue;
            }
            const int d = HexDigit(c);
            if (d < 0)
                Fail(key, std::string("not a hex digit: '") + c + "' at position " +
                              std::to_string(i));
            if (high < 0) {
                high = d;
            } else {
                out.push_back(static_cast<uint8_t>(high << 4 | d));
                high = -1;
            }
        }
        if (high >= 0) Fail(key, "odd number of hex digits");
    } else if (v.is_object()) {
        CheckKeys(v, key, {"fill", "size"});
        if (!v.contains("size")) Fail(Join(key, "size"), "missing");
        const uint8_t fill = v.contains("fill") ? U8(v["fill"], Join(key, "fill")) : 0;
        const uint64_t size = Number(v["size"], Join(key, "size"), 0, maxSize);
        out.assign(static_cast<size_t>(size), fill);
    } else {
        Fail(key, "expected a hex string or {\"fill\": BYTE, \"size\": N}");
    }
    if (out.size() > maxSize)
        Fail(key, std::to_string(out.size()) + " bytes, at most " + std::to_string(maxSize) +
                      " allowed");
    return out;
}

Area ParseArea(const json& v, const std::string& key) {
    RequireObject(v, key);
    CheckKeys(v, key, {"tag", "attribute", "loadAddress", "areaSize", "data"});
    Area a;
    if (!v.contains("tag")) Fail(Join(key, "tag"), "missing");
    a.tag = Text(v["tag"], Join(key, "tag"), 2);
    if (a.tag.size() != 2) Fail(Join(key, "tag"), "expected two characters, got \"" + a.tag + "\"");
    if (v.contains("attribute")) a.attribute = U32(v["attribute"], Join(key, "attribute"));
    if (v.contains("loadAddress")) a.loadAddress = U32(v["loadAddress"], Join(key, "loadAddress"));
    if (!v.contains("areaSize")) Fail(Join(key, "areaSize"), "missing");
    a.areaSize = U32(v["areaSize"], Join(key, "areaSize"));
    if (v.contains("data")) a.data = Bytes(v["data"], Join(key, "data"), kMaxBytes);
    if (a.data.size() > a.areaSize)
        Fail(Join(key, "data"), std::to_string(a.data.size()) + " bytes do not fit areaSize " +
                                    std::to_string(a.areaSize));
    return a;
}

FaultAction ParseAction(const json& v, const std::string& key) {
    static const std::pair<const char*, FaultAction> kActions[] = {
        {"drop", FaultAction::kDrop},       {"nak", FaultAction::kNak},
        {"silent", FaultAction::kSilent},   {"pieces", FaultAction::kPieces},
        {"overlong", FaultAction::kOverlong}};
    if (v.is_string())
        for (const auto& [name, action] : kActions)
            if (v.get<std::string>() == name) return action;
    Fail(key, "expected one of \"drop\", \"nak\", \"silent\", \"pieces\", \"overlong\"");
}

Fault ParseFault(const json& v, const std::string& key) {
    RequireObject(v, key);
    CheckKeys(v, key,
              {"atFrame", "introducer", "letter", "occurrence", "action", "pieceSize", "extraBytes"});
    Fault f;
    if (v.contains("atFrame")) f.atFrame = U32(v["atFrame"], Join(key, "atFrame"));
    if (v.contains("introducer")) {
        const json& i = v["introducer"];
        const std::string k = Join(key, "introducer");
        if (i.is_string() && i.get<std::string>() == "FS") f.introducer = 0x1C;
        else if (i.is_string() && i.get<std::string>() == "GS") f.introducer = 0x1D;
        else f.introducer = U8(i, k);
        if (f.introducer != 0x1C && f.introducer != 0x1D)
            Fail(k, "expected \"FS\", \"GS\", 28 or 29");
    }
    if (v.contains("letter")) {
        const json& l = v["letter"];
        const std::string k = Join(key, "letter");
        if (l.is_string() && l.get<std::string>().size() == 1)
            f.letter = static_cast<uint8_t>(l.get<std::string>()[0]);
        else if (l.is_string() && l.get<std::string>().rfind("0x", 0) != 0)
            Fail(k, "expected one character or a byte value");
        else
            f.letter = U8(l, k);
    }
    if (v.contains("occurrence")) f.occurrence = U32(v["occurrence"], Join(key, "occurrence"), 1);
    if (!v.contains("action")) Fail(Join(key, "action"), "missing");
    f.action = ParseAction(v["action"], Join(key, "action"));
    if (v.contains("pieceSize")) f.pieceSize = U32(v["pieceSize"], Join(key, "pieceSize"), 1);
    if (v.contains("extraBytes")) f.extraBytes = U32(v["extraBytes"], Join(key, "extraBytes"));
    if (f.atFrame == 0 && (!v.contains("introducer") || !v.contains("letter")))
        Fail(key, "a fault needs \"atFrame\", or both \"introducer\" and \"letter\"");
    return f;
}

void Parse(const json& doc, Scenario* s) {
    if (!doc.is_object()) throw BadKey("the scenario must be a JSON object");
    CheckKeys(doc, "",
              {"description", "version", "identifier", "systemInfo", "status", "busyPolls",
               "errorInfo", "productInfo", "netSettings", "printerData", "log", "reserveResult",
               "searchRecords", "layout", "imageVersion", "classByte", "areas", "noAreas", "st",
               "maintenanceBusyPolls", "maintenanceBusyMs", "startCondition", "busyPollsAfter",
               "finishMs", "finishBusyPolls", "restartDelayMs", "dropReturnMs", "flashErase",
               "faults"});
    if (doc.contains("description") && !doc["description"].is_string())
        Fail("description", "expected a text");
    if (doc.contains("version")) {
        s->version = Text(doc["version"], "version", 4);
        s->version.resize(4, ' ');
    }
    if (doc.contains("identifier")) s->identifier = Text(doc["identifier"], "identifier", 8);
    if (doc.contains("systemInfo")) s->systemInfo = Bytes(doc["systemInfo"], "systemInfo", 51);
    if (doc.contains("status")) s->status = Bytes(doc["status"], "status", 60);
    if (doc.contains("busyPolls")) s->busyPolls = U32(doc["busyPolls"], "busyPolls");
    if (doc.contains("errorInfo")) s->errorInfo = Bytes(doc["errorInfo"], "errorInfo", 22);
    if (doc.contains("productInfo")) s->productInfo = Bytes(doc["productInfo"], "productInfo", 36);
    if (doc.contains("netSettings")) s->netSettings = Bytes(doc["netSettings"], "netSettings", 64);
    if (doc.contains("printerData"))
        s->printerData = Bytes(doc["printerData"], "printerData", kMaxBytes);
    if (doc.contains("log")) s->log = Bytes(doc["log"], "log", kMaxBytes);
    if (doc.contains("reserveResult")) s->reserveResult = U8(doc["reserveResult"], "reserveResult");
    if (doc.contains("searchRecords")) {
        const json& r = doc["searchRecords"];
        if (!r.is_array()) Fail("searchRecords", "expected an array");
        s->searchRecords.clear();
        for (size_t i = 0; i < r.size(); ++i)
            s->searchRecords.push_back(Bytes(r[i], Index("searchRecords", i), kMaxSearchRecord));
    }
    if (doc.contains("layout")) s->layout = U32(doc["layout"], "layout");
    if (doc.contains("imageVersion")) s->imageVersion = Text(doc["imageVersion"], "imageVersion", 16);
    if (doc.contains("classByte")) s->classByte = U8(doc["classByte"], "classByte");
    if (doc.contains("areas")) {
        const json& a = doc["areas"];
        if (!a.is_array()) Fail("areas", "expected an array");
        s->areas.clear();
        std::set<std::string> tags;
        for (size_t i = 0; i < a.size(); ++i) {
            Area area = ParseArea(a[i], Index("areas", i));
            if (!tags.insert(area.tag).second)
                Fail(Index("areas", i) + ".tag", "tag \"" + area.tag + "\" appears twice");
            s->areas.push_back(std::move(area));
        }
    }
    if (doc.contains("noAreas")) {
        if (!doc["noAreas"].is_boolean()) Fail("noAreas", "expected true or false");
        s->noAreas = doc["noAreas"].get<bool>();
        if (s->noAreas && !s->areas.empty())
            Fail("noAreas", "true cannot go with a non-empty \"areas\"");
        if (s->noAreas && doc.contains("st")) Fail("st", "there is no ST area with \"noAreas\"");
    }
    if (doc.contains("st")) {
        if (s->areas.empty()) s->areas = DefaultAreas();
        Area* st = nullptr;
        for (Area& a : s->areas)
            if (a.tag == "ST") st = &a;
        if (!st) Fail("st", "the area table has no ST area");
        std::vector<uint8_t> data = Bytes(doc["st"], "st", kMaxBytes);
        if (data.size() > st->areaSize)
            Fail("st", std::to_string(data.size()) + " bytes do not fit the ST area's " +
                           std::to_string(st->areaSize));
        st->data = std::move(data);
    }
    if (doc.contains("maintenanceBusyPolls"))
        s->maintenanceBusyPolls = U32(doc["maintenanceBusyPolls"], "maintenanceBusyPolls");
    if (doc.contains("maintenanceBusyMs"))
        s->maintenanceBusyMs = U32(doc["maintenanceBusyMs"], "maintenanceBusyMs");
    if (doc.contains("startCondition")) {
        s->startCondition = U8(doc["startCondition"], "startCondition");
        if (s->startCondition != 1 && s->startCondition != 0x80)
            Fail("startCondition", "expected 1 (ready) or 128 (failed)");
    }
    if (doc.contains("busyPollsAfter")) {
        const json& b = RequireObject(doc["busyPollsAfter"], "busyPollsAfter");
        CheckKeys(b, "busyPollsAfter", {"I", "N", "Q", "S", "U", "W"});
        Scenario::ModeChangePolls& p = s->busyPollsAfter;
        const std::pair<const char*, uint32_t*> kinds[] = {
            {"I", &p.imageTable},   {"N", &p.version},       {"Q", &p.beginSection},
            {"S", &p.commit},       {"U", &p.beginReadBack}, {"W", &p.endReadBack}};
        for (const auto& [letter, field] : kinds)
            if (b.contains(letter)) *field = U32(b[letter], Join("busyPollsAfter", letter));
    }
    if (doc.contains("finishMs")) s->finishMs = U32(doc["finishMs"], "finishMs");
    if (doc.contains("finishBusyPolls"))
        s->finishBusyPolls = U32(doc["finishBusyPolls"], "finishBusyPolls");
    if (doc.contains("restartDelayMs"))
        s->restartDelayMs = U32(doc["restartDelayMs"], "restartDelayMs");
    if (doc.contains("dropReturnMs")) s->dropReturnMs = U32(doc["dropReturnMs"], "dropReturnMs");
    if (doc.contains("flashErase")) {
        if (!doc["flashErase"].is_boolean()) Fail("flashErase", "expected true or false");
        s->flashErase = doc["flashErase"].get<bool>();
    }
    if (doc.contains("faults")) {
        const json& f = doc["faults"];
        if (!f.is_array()) Fail("faults", "expected an array");
        s->faults.clear();
        for (size_t i = 0; i < f.size(); ++i) s->faults.push_back(ParseFault(f[i], Index("faults", i)));
    }
}

std::string Hex(const std::vector<uint8_t>& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string s;
    s.reserve(bytes.size() * 2);
    for (uint8_t b : bytes) {
        s.push_back(kDigits[b >> 4]);
        s.push_back(kDigits[b & 15]);
    }
    return s;
}

// Long runs of one byte are written in the short form.
json BytesJson(const std::vector<uint8_t>& bytes) {
    if (bytes.size() >= 16) {
        bool same = true;
        for (uint8_t b : bytes) same = same && b == bytes[0];
        if (same) return {{"fill", bytes[0]}, {"size", bytes.size()}};
    }
    return Hex(bytes);
}

const char* ActionName(FaultAction a) {
    switch (a) {
    case FaultAction::kDrop: return "drop";
    case FaultAction::kNak: return "nak";
    case FaultAction::kSilent: return "silent";
    case FaultAction::kPieces: return "pieces";
    case FaultAction::kOverlong: return "overlong";
    }
    return "drop";
}

}  // namespace

bool ScenarioFromJson(const nlohmann::json& doc, Scenario* out, std::string* error) {
    Scenario s;
    try {
        Parse(doc, &s);
    } catch (const BadKey& e) {
        if (error) *error = e.what();
        return false;
    } catch (const json::exception& e) {
        if (error) *error = e.what();
        return false;
    }
    *out = std::move(s);
    return true;
}

bool ScenarioFromJsonText(const std::string& text, Scenario* out, std::string* error) {
    json doc;
    try {
        doc = json::parse(text);
    } catch (const json::parse_error& e) {
        if (error) *error = std::string("not valid JSON: ") + e.what();
        return false;
    }
    return ScenarioFromJson(doc, out, error);
}

bool LoadScenarioFile(const std::string& path, Scenario* out, std::string* error) {
    std::ifstream f(path, std::ios::binary);
    if (!f) {
        if (error) *error = "scenario " + path + ": cannot open the file";
        return false;
    }
    std::ostringstream text;
    text << f.rdbuf();
    if (f.bad()) {
        if (error) *error = "scenario " + path + ": cannot read the file";
        return false;
    }
    std::string why;
    if (!ScenarioFromJsonText(text.str(), out, &why)) {
        if (error) *error = "scenario " + path + ": " + why;
        return false;
    }
    return true;
}

nlohmann::json ScenarioToJson(const Scenario& s) {
    json doc = {{"version", s.version},
                {"identifier", s.identifier},
                {"systemInfo", BytesJson(s.systemInfo)},
                {"status", BytesJson(s.status)},
                {"busyPolls", s.busyPolls},
                {"errorInfo", BytesJson(s.errorInfo)},
                {"productInfo", BytesJson(s.productInfo)},
                {"netSettings", BytesJson(s.netSettings)},
                {"printerData", BytesJson(s.printerData)},
                {"log", BytesJson(s.log)},
                {"reserveResult", s.reserveResult},
                {"layout", s.layout},
                {"imageVersion", s.imageVersion},
                {"classByte", s.classByte},
                {"noAreas", s.noAreas},
                {"maintenanceBusyPolls", s.maintenanceBusyPolls},
                {"maintenanceBusyMs", s.maintenanceBusyMs},
                {"busyPollsAfter",
                 {{"I", s.busyPollsAfter.imageTable},
                  {"N", s.busyPollsAfter.version},
                  {"Q", s.busyPollsAfter.beginSection},
                  {"S", s.busyPollsAfter.commit},
                  {"U", s.busyPollsAfter.beginReadBack},
                  {"W", s.busyPollsAfter.endReadBack}}},
                {"finishMs", s.finishMs},
                {"startCondition", s.startCondition},
                {"finishBusyPolls", s.finishBusyPolls},
                {"restartDelayMs", s.restartDelayMs},
                {"dropReturnMs", s.dropReturnMs},
                {"flashErase", s.flashErase}};
    json records = json::array();
    for (const auto& r : s.searchRecords) records.push_back(BytesJson(r));
    doc["searchRecords"] = records;
    json areas = json::array();
    for (const Area& a : s.areas)
        areas.push_back({{"tag", a.tag},
                         {"attribute", a.attribute},
                         {"loadAddress", a.loadAddress},
                         {"areaSize", a.areaSize},
                         {"data", BytesJson(a.data)}});
    doc["areas"] = areas;
    json faults = json::array();
    for (const Fault& f : s.faults) {
        json j = {{"atFrame", f.atFrame},   {"occurrence", f.occurrence},
                  {"action", ActionName(f.action)}, {"pieceSize", f.pieceSize},
                  {"extraBytes", f.extraBytes}};
        if (f.introducer) j["introducer"] = f.introducer;
        if (f.introducer || f.letter) j["letter"] = f.letter;
        faults.push_back(j);
    }
    doc["faults"] = faults;
    return doc;
}

}  // namespace sim
