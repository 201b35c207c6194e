// Scenario files: what they set, and the errors that name the bad key.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "sim/transport/scenario_json.h"
#include "tests/sim_transport/frames.h"
#include "tests/support/process_env.h"

namespace {

sim::Scenario Parse(const std::string& text) {
    sim::Scenario s;
    std::string error;
    EXPECT_TRUE(sim::ScenarioFromJsonText(text, &s, &error)) << error;
    return s;
}

TEST(ScenarioJson, EmptyObjectKeepsEveryDefault) {
    const sim::Scenario s = Parse("{}");
    const sim::Scenario d;
    EXPECT_EQ(s.version, d.version);
    EXPECT_EQ(s.identifier, d.identifier);
    EXPECT_EQ(s.layout, d.layout);
    EXPECT_EQ(s.restartDelayMs, d.restartDelayMs);
    EXPECT_TRUE(s.areas.empty());
    EXPECT_FALSE(s.noAreas);
    EXPECT_TRUE(s.faults.empty());
    EXPECT_TRUE(Parse(R"({"noAreas": true})").noAreas);
}

TEST(ScenarioJson, ReadsEveryKindOfValue) {
    const sim::Scenario s = Parse(R"({
        "description": "a printer with an old firmware",
        "version": "1.1",
        "identifier": "ZK000042",
        "systemInfo": "0a 0D ff",
        "status": {"fill": 2, "size": 60},
        "busyPolls": "3",
        "netSettings": {"size": 64},
        "log": {"fill": 65, "size": 1000},
        "reserveResult": 2,
        "searchRecords": [{"fill": 97, "size": 32}, "00112233"],
        "layout": 7,
        "imageVersion": "1.1",
        "classByte": "0x02",
        "areas": [
            {"tag": "MC", "attribute": "0x10", "loadAddress": "0x00010000", "areaSize": 4096},
            {"tag": "ST", "areaSize": 2048, "data": "0102"}
        ],
        "st": {"fill": 90, "size": 1536},
        "maintenanceBusyPolls": 0,
        "maintenanceBusyMs": "10900",
        "finishBusyPolls": 5,
        "restartDelayMs": 200,
        "dropReturnMs": 0,
        "flashErase": true,
        "faults": [
            {"introducer": "GS", "letter": "R", "occurrence": 3, "action": "nak"},
            {"atFrame": 12, "action": "pieces", "pieceSize": 5},
            {"introducer": 28, "letter": "0x59", "action": "overlong", "extraBytes": 40}
        ]
    })");
    EXPECT_EQ(s.version, "1.1 ");  // blank-padded to the 4 characters of the reply
    EXPECT_EQ(s.identifier, "ZK000042");
    EXPECT_EQ(s.systemInfo, (std::vector<uint8_t>{0x0A, 0x0D, 0xFF}));
    EXPECT_EQ(s.status, std::vector<uint8_t>(60, 2));
    EXPECT_EQ(s.busyPolls, 3u);
    EXPECT_EQ(s.netSettings, std::vector<uint8_t>(64, 0));
    EXPECT_EQ(s.log, std::vector<uint8_t>(1000, 'A'));
    EXPECT_EQ(s.reserveResult, 2);
    ASSERT_EQ(s.searchRecords.size(), 2u);
    EXPECT_EQ(s.searchRecords[0], std::vector<uint8_t>(32, 'a'));
    EXPECT_EQ(s.searchRecords[1], (std::vector<uint8_t>{0x00, 0x11, 0x22, 0x33}));
    EXPECT_EQ(s.layout, 7u);
    EXPECT_EQ(s.imageVersion, "1.1");
    EXPECT_EQ(s.classByte, 2);
    ASSERT_EQ(s.areas.size(), 2u);
    EXPECT_EQ(s.areas[0].tag, "MC");
    EXPECT_EQ(s.areas[0].attribute, 0x10u);
    EXPECT_EQ(s.areas[0].loadAddress, 0x10000u);
    EXPECT_EQ(s.areas[0].areaSize, 4096u);
    EXPECT_TRUE(s.areas[0].data.empty());
    EXPECT_EQ(s.areas[1].data, std::vector<uint8_t>(1536, 'Z'));  // "st" replaces the content
    EXPECT_EQ(s.maintenanceBusyPolls, 0u);
    EXPECT_EQ(s.maintenanceBusyMs, 10900u);
    EXPECT_EQ(s.finishBusyPolls, 5u);
    EXPECT_EQ(s.restartDelayMs, 200u);
    EXPECT_EQ(s.dropReturnMs, 0u);
    EXPECT_TRUE(s.flashErase);
    ASSERT_EQ(s.faults.size(), 3u);
    EXPECT_EQ(s.faults[0].introducer, 0x1D);
    EXPECT_EQ(s.faults[0].letter, 'R');
    EXPECT_EQ(s.faults[0].occurrence, 3u);
    EXPECT_EQ(s.faults[0].action, sim::FaultAction::kNak);
    EXPECT_EQ(s.faults[1].atFrame, 12u);
    EXPECT_EQ(s.faults[1].action, sim::FaultAction::kPieces);
    EXPECT_EQ(s.faults[1].pieceSize, 5u);
    EXPECT_EQ(s.faults[2].introducer, 0x1C);
    EXPECT_EQ(s.faults[2].letter, 'Y');
    EXPECT_EQ(s.faults[2].action, sim::FaultAction::kOverlong);
    EXPECT_EQ(s.faults[2].extraBytes, 40u);
}

TEST(ScenarioJson, StContentAloneFillsTheDefaultAreaTable) {
    const sim::Scenario s = Parse(R"({"st": "c0ffee"})");
    const auto defaults = sim::DefaultAreas();
    ASSERT_EQ(s.areas.size(), defaults.size());
    for (size_t i = 0; i < s.areas.size(); ++i) {
        EXPECT_EQ(s.areas[i].tag, defaults[i].tag);
        EXPECT_EQ(s.areas[i].areaSize, defaults[i].areaSize);
        if (s.areas[i].tag == "ST")
            EXPECT_EQ(s.areas[i].data, (std::vector<uint8_t>{0xC0, 0xFF, 0xEE}));
        else
            EXPECT_EQ(s.areas[i].data, defaults[i].data);
    }
}

TEST(ScenarioJson, ModeChangePollsAndTheFinishTime) {
    const sim::Scenario d;
    const sim::Scenario s = Parse(R"({"busyPollsAfter": {"Q": 7, "W": 0}, "finishMs": 2500})");
    EXPECT_EQ(s.busyPollsAfter.beginSection, 7u);
    EXPECT_EQ(s.busyPollsAfter.endReadBack, 0u);
    EXPECT_EQ(s.busyPollsAfter.commit, d.busyPollsAfter.commit) << "a kind not named keeps its default";
    EXPECT_EQ(s.busyPollsAfter.imageTable, d.busyPollsAfter.imageTable);
    EXPECT_EQ(s.finishMs, 2500u);
    EXPECT_EQ(s.finishBusyPolls, d.finishBusyPolls);
}

TEST(ScenarioJson, WrittenScenarioReadsBackUnchanged) {
    sim::Scenario s;
    s.version = "2.0 ";
    s.identifier = "ABCDEFGH";
    s.systemInfo = {1, 2, 3};
    s.errorInfo = std::vector<uint8_t>(22, 7);
    s.productInfo = {9};
    s.printerData = {4, 5};
    s.searchRecords = {std::vector<uint8_t>(32, 1)};
    s.layout = 9;
    s.imageVersion = "2.0";
    s.classByte = 3;
    s.areas = sim::DefaultAreas();
    s.restartDelayMs = 1;
    s.dropReturnMs = 0;
    s.busyPollsAfter.version = 9;
    s.busyPollsAfter.beginReadBack = 0;
    s.finishMs = 77;
    s.maintenanceBusyMs = 11000;
    s.startCondition = 0x80;
    s.flashErase = true;
    sim::Fault f;
    f.introducer = 0x1D;
    f.letter = 'B';
    f.action = sim::FaultAction::kSilent;
    s.faults = {f};

    sim::Scenario back;
    std::string error;
    ASSERT_TRUE(sim::ScenarioFromJson(sim::ScenarioToJson(s), &back, &error)) << error;
    EXPECT_EQ(sim::ScenarioToJson(back), sim::ScenarioToJson(s));
    EXPECT_EQ(back.version, s.version);
    ASSERT_EQ(back.areas.size(), s.areas.size());
    for (size_t i = 0; i < s.areas.size(); ++i) EXPECT_EQ(back.areas[i].data, s.areas[i].data);
    ASSERT_EQ(back.faults.size(), 1u);
    EXPECT_EQ(back.faults[0].letter, 'B');
    EXPECT_EQ(back.faults[0].action, sim::FaultAction::kSilent);
}

struct BadCase {
    const char* json;
    const char* names;  // what the message must contain
};

void PrintTo(const BadCase& c, std::ostream* os) { *os << c.json; }

class ScenarioJsonErrors : public ::testing::TestWithParam<BadCase> {};

TEST_P(ScenarioJsonErrors, AreRefusedWithAMessageNamingTheKey) {
    sim::Scenario s;
    s.layout = 1234;  // a failed read leaves the target untouched
    std::string error;
    EXPECT_FALSE(sim::ScenarioFromJsonText(GetParam().json, &s, &error));
    EXPECT_NE(error.find(GetParam().names), std::string::npos)
        << "message: " << error << "\nexpected it to contain: " << GetParam().names;
    EXPECT_EQ(s.layout, 1234u);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ScenarioJsonErrors,
    ::testing::Values(
        BadCase{R"({"layout": 6,)", "not valid JSON"},
        BadCase{R"([1, 2])", "must be a JSON object"},
        BadCase{R"({"restartDelay": 5})", "key 'restartDelay': unknown key"},
        BadCase{R"({"busyPollsAfter": 3})", "key 'busyPollsAfter': expected an object"},
        BadCase{R"({"busyPollsAfter": {"R": 3}})", "key 'busyPollsAfter.R': unknown key"},
        BadCase{R"({"busyPollsAfter": {"Q": -1}})", "key 'busyPollsAfter.Q': expected a whole number"},
        BadCase{R"({"finishMs": "soon"})", "key 'finishMs'"},
        BadCase{R"({"maintenanceBusyMs": -5})", "key 'maintenanceBusyMs': expected a whole number"},
        BadCase{R"({"startCondition": 2})", "key 'startCondition': expected 1 (ready) or 128"},
        BadCase{R"({"layout": -1})", "key 'layout': expected a whole number"},
        BadCase{R"({"layout": 1.5})", "key 'layout'"},
        BadCase{R"({"layout": 4294967296})", "key 'layout'"},
        BadCase{R"({"busyPolls": "12abc"})", "key 'busyPolls'"},
        BadCase{R"({"classByte": 256})", "key 'classByte': expected a whole number from 0 to 255"},
        BadCase{R"({"version": "1.234"})", "key 'version': longer than 4"},
        BadCase{R"({"identifier": 5})", "key 'identifier': expected a text"},
        BadCase{R"({"identifier": "ZK\u00e9"})", "key 'identifier': only printable ASCII"},
        BadCase{R"({"imageVersion": "12345678901234567"})", "key 'imageVersion'"},
        BadCase{R"({"systemInfo": "0g"})", "key 'systemInfo': not a hex digit"},
        BadCase{R"({"systemInfo": "123"})", "key 'systemInfo': odd number"},
        BadCase{R"({"systemInfo": {"fill": 0, "size": 52}})", "key 'systemInfo.size'"},
        BadCase{R"({"status": {"fill": 0}})", "key 'status.size': missing"},
        BadCase{R"({"status": {"size": 1, "value": 3}})", "key 'status.value': unknown key"},
        BadCase{R"({"netSettings": [1, 2]})", "key 'netSettings': expected a hex string"},
        BadCase{R"({"log": {"fill": 0, "size": 1000000000}})", "key 'log.size'"},
        BadCase{R"({"searchRecords": "00"})", "key 'searchRecords': expected an array"},
        BadCase{R"({"searchRecords": ["00", 3]})", "key 'searchRecords[1]'"},
        BadCase{R"({"areas": [{"tag": "MC", "areaSize": 4}, {"tag": "M", "areaSize": 4}]})",
                "key 'areas[1].tag': expected two characters"},
        BadCase{R"({"areas": [{"tag": "MC"}]})", "key 'areas[0].areaSize': missing"},
        BadCase{R"({"areas": [{"tag": "MC", "areaSize": 2, "data": "010203"}]})",
                "key 'areas[0].data': 3 bytes do not fit areaSize 2"},
        BadCase{R"({"areas": [{"tag": "MC", "areaSize": 2, "size": 2}]})",
                "key 'areas[0].size': unknown key"},
        BadCase{R"({"areas": [{"tag": "ST", "areaSize": 2}, {"tag": "ST", "areaSize": 2}]})",
                "key 'areas[1].tag': tag \"ST\" appears twice"},
        BadCase{R"({"areas": [{"tag": "MC", "areaSize": 8}], "st": "00"})",
                "key 'st': the area table has no ST area"},
        BadCase{R"({"areas": [{"tag": "ST", "areaSize": 1}], "st": "0000"})", "key 'st'"},
        BadCase{R"({"noAreas": 1})", "key 'noAreas': expected true or false"},
        BadCase{R"({"flashErase": "yes"})", "key 'flashErase': expected true or false"},
        BadCase{R"({"noAreas": true, "areas": [{"tag": "MC", "areaSize": 8}]})", "key 'noAreas'"},
        BadCase{R"({"noAreas": true, "st": "00"})", "key 'st'"},
        BadCase{R"({"faults": [{"atFrame": 3}]})", "key 'faults[0].action': missing"},
        BadCase{R"({"faults": [{"atFrame": 3, "action": "explode"}]})",
                "key 'faults[0].action': expected one of"},
        BadCase{R"({"faults": [{"letter": "R", "action": "nak"}]})",
                "key 'faults[0]': a fault needs"},
        BadCase{R"({"faults": [{"introducer": "ESC", "letter": "R", "action": "nak"}]})",
                "key 'faults[0].introducer'"},
        BadCase{R"({"faults": [{"introducer": "GS", "letter": "RR", "action": "nak"}]})",
                "key 'faults[0].letter'"},
        BadCase{R"({"faults": [{"atFrame": 1, "action": "pieces", "pieceSize": 0}]})",
                "key 'faults[0].pieceSize'"},
        BadCase{R"({"faults": [{"atFrame": 1, "action": "nak", "occurrence": 0}]})",
                "key 'faults[0].occurrence'"},
        BadCase{R"({"faults": [{"atFrame": 1, "action": "nak", "when": 0}]})",
                "key 'faults[0].when': unknown key"}),
    [](const ::testing::TestParamInfo<BadCase>& info) {
        return simtest::CaseName(info.param.names, info.index);
    });

class ScenarioFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        path = std::filesystem::temp_directory_path() /
               ("scenario-" + std::to_string(testsupport::CurrentProcessId()) + ".json");
    }
    void TearDown() override { std::filesystem::remove(path); }
    std::filesystem::path path;
};

TEST_F(ScenarioFileTest, ReadsAFileAndNamesItInErrors) {
    std::ofstream(path) << R"({"identifier": "FILE0001", "restartDelayMs": 250})";
    sim::Scenario s;
    std::string error;
    ASSERT_TRUE(sim::LoadScenarioFile(path.string(), &s, &error)) << error;
    EXPECT_EQ(s.identifier, "FILE0001");
    EXPECT_EQ(s.restartDelayMs, 250u);

    std::ofstream(path) << R"({"restartDelayMs": "soon"})";
    EXPECT_FALSE(sim::LoadScenarioFile(path.string(), &s, &error));
    EXPECT_NE(error.find(path.string()), std::string::npos) << error;
    EXPECT_NE(error.find("restartDelayMs"), std::string::npos) << error;

    std::filesystem::remove(path);
    EXPECT_FALSE(sim::LoadScenarioFile(path.string(), &s, &error));
    EXPECT_NE(error.find("cannot open"), std::string::npos) << error;
}

}  // namespace
