#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/xlframe/fake_registration_host.hpp"
#include "xlframe/exceptions.hpp"
#include "xlframe/registration.hpp"
#include "xlframe/xl_oper.hpp"

namespace {

using namespace xlframe::XLRegistration;
using fakehost::number;
using fakehost::text;

class DiagnosticCapture {
   public:
    DiagnosticCapture() : previous_(std::cerr.rdbuf(buffer_.rdbuf())) {}
    ~DiagnosticCapture() { std::cerr.rdbuf(previous_); }
    std::string text() const { return buffer_.str(); }

   private:
    std::ostringstream buffer_;
    std::streambuf* previous_;
};

HostContext host(int version, const std::string& helpFile = std::string()) {
    HostContext context;
    context.version = version;
    context.libraryPath = "/addins/Tavirune.xll";
    context.helpFile = helpFile;
    // The translation the host-access object makes for the generation.
    context.typeCode = [version](const std::string& code) -> std::string {
        if (code == "XLF_OPER") return version >= 12 ? "Q" : "P";
        if (code == "XLF_XLOPER") return version >= 12 ? "U" : "R";
        return code;
    };
    return context;
}

const char* const rocArguments[][3] = {
    {"scores", " scores help ", "XLF_OPER"},  {"indicators", " indicators help ", "XLF_OPER"},
    {"scoreIndex", " scoreIndex help ", "B"}, {"outputIndex", " outputIndex help ", "B"},
    {"numBuckets", " numBuckets help ", "B"},
};

RegistrationRecord record(const char* name, const char* description = " description ",
                          const char* const (*arguments)[3] = nullptr, int count = 0) {
    return RegistrationRecord("xlentry", name, description, "Test Category", arguments, count, false, true, "", "",
                              false, false, false);
}

std::vector<fakehost::Value> expectedOperands(const std::string& procedure, const std::string& type,
                                              const std::string& name, const std::string& arguments,
                                              const std::string& topic, const std::string& description,
                                              const std::vector<std::string>& helps) {
    std::vector<fakehost::Value> operands = {
        text("/addins/Tavirune.xll"), text(procedure), text(type),  text(name),       text(arguments), number(1.0),
        text("Test Category"),        text(""),        text(topic), text(description)};
    for (const std::string& help : helps) operands.push_back(text(help));
    return operands;
}

class Registration : public ::testing::Test {
   protected:
    xlframe::TempMemory::EntryGuard guard_;  // what the records hand to the host lives here
};

TEST_F(Registration, RegisterOperandsPerHostVersion) {
    struct Case {
        int version;
        std::string type;
    };
    for (const Case& c : {Case{16, "QQQBBB$"}, Case{12, "QQQBBB$"}, Case{11, "PPPBBB"}}) {
        fakehost::Host fake(c.version);
        ExcelFunctionRegistrationRegistry registry;
        registry.AddFunction(RegistrationRecord("xlrocCurveIndividual", "Test.rocCurveIndividual", " roc ",
                                                "Test Category", rocArguments, 5, false, true, "", "", false, false,
                                                false));
        registry.RegisterAll(host(c.version));

        const auto registrations = fake.callsOf(xlfRegister);
        ASSERT_EQ(registrations.size(), 1u) << c.version;
        EXPECT_EQ(registrations[0].operands,
                  expectedOperands("xlrocCurveIndividual", c.type, "Test.rocCurveIndividual",
                                   "scores, indicators, scoreIndex, outputIndex, numBuckets", "", " roc ",
                                   {" scores help ", " indicators help ", " scoreIndex help ", " outputIndex help ",
                                    " numBuckets help . "}))
            << c.version;
        EXPECT_EQ(registrations[0].operands.size(), 15u);
        EXPECT_EQ(registry.Functions().at("Test.rocCurveIndividual")->GetRegisterId(), fakehost::Host::idOf(1));
    }
}

TEST_F(Registration, NoArgumentsGiveTenOperands) {
    for (int version : {16, 11}) {
        fakehost::Host fake(version);
        ExcelFunctionRegistrationRegistry registry;
        registry.AddFunction(record("Test.getVersion", " version "));
        registry.RegisterAll(host(version));
        const auto registrations = fake.callsOf(xlfRegister);
        ASSERT_EQ(registrations.size(), 1u);
        EXPECT_EQ(registrations[0].operands,
                  expectedOperands("xlentry", version >= 12 ? "Q$" : "P", "Test.getVersion", "", "", " version ", {}));
    }
}

TEST_F(Registration, ByteOrderOfNamesAndHelpTopicIndices) {
    fakehost::Host fake(16);
    ExcelFunctionRegistrationRegistry registry;
    // Upper case sorts before lower case in byte order.
    for (const char* name : {"b.zeta", "a.mid", "B.alpha", "a.Mid"}) registry.AddFunction(record(name));
    registry.RegisterAll(host(16, "/addins/Tavirune.chm"));

    const std::vector<std::pair<std::string, std::string>> expected = {{"B.alpha", "/addins/Tavirune.chm!1"},
                                                                       {"a.Mid", "/addins/Tavirune.chm!2"},
                                                                       {"a.mid", "/addins/Tavirune.chm!3"},
                                                                       {"b.zeta", "/addins/Tavirune.chm!4"}};
    const auto registrations = fake.callsOf(xlfRegister);
    ASSERT_EQ(registrations.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(registrations[i].operands[3].text, expected[i].first);
        EXPECT_EQ(registrations[i].operands[8].text, expected[i].second);
    }
}

TEST_F(Registration, CommandsContinueTheNumbering) {
    fakehost::Host fake(16);
    ExcelFunctionRegistrationRegistry registry;
    registry.AddFunction(record("f.two"));
    registry.AddFunction(record("f.one"));
    registry.AddCommand(std::make_shared<XlfCmdDesc>("xlcommand", "c.command", " command "));
    registry.RegisterAll(host(16, "/h.chm"));
    const auto registrations = fake.callsOf(xlfRegister);
    ASSERT_EQ(registrations.size(), 3u);
    EXPECT_EQ(registrations[2].operands[3].text, "c.command");
    EXPECT_EQ(registrations[2].operands[5], number(2.0));  // a command
    EXPECT_EQ(registrations[2].operands[8].text, "/h.chm!3");
}

TEST_F(Registration, LaterRecordOfTheSameNameReplacesTheEarlier) {
    fakehost::Host fake(16);
    ExcelFunctionRegistrationRegistry registry;
    registry.AddFunction(record("f.same", " first "));
    registry.AddFunction(record("f.other"));
    registry.AddFunction(record("f.same", " second "));
    EXPECT_EQ(registry.RecordNames(), (std::vector<std::string>{"f.other", "f.same"}));
    registry.RegisterAll(host(16));
    const auto registrations = fake.callsOf(xlfRegister);
    ASSERT_EQ(registrations.size(), 2u);
    EXPECT_EQ(registrations[1].operands[3].text, "f.same");
    EXPECT_EQ(registrations[1].operands[9].text, " second ");
}

TEST_F(Registration, RejectedRegistrationIsReportedAndTheOthersContinue) {
    fakehost::Host fake(16);
    fake.reject("f.b", xlretFailed);
    ExcelFunctionRegistrationRegistry registry;
    for (const char* name : {"f.a", "f.b", "f.c"}) registry.AddFunction(record(name));
    DiagnosticCapture capture;
    registry.RegisterAll(host(16));

    EXPECT_EQ(fake.callsOf(xlfRegister).size(), 3u);
    const auto functions = registry.Functions();
    EXPECT_EQ(functions.at("f.a")->GetRegisterId(), fakehost::Host::idOf(1));
    EXPECT_EQ(functions.at("f.b")->GetRegisterId(), -1.0);
    EXPECT_EQ(functions.at("f.c")->GetRegisterId(), fakehost::Host::idOf(2));
    const std::string line = "): Error 32 while registering f.b\n";
    const std::string diagnostics = capture.text();
    ASSERT_GE(diagnostics.size(), line.size());
    EXPECT_EQ(diagnostics.substr(diagnostics.size() - line.size()), line);
    EXPECT_EQ(diagnostics.rfind("registration.cpp(", 0), 0u) << diagnostics;
}

TEST_F(Registration, AnswerThatIsNotANumberLeavesNoIdentifier) {
    fakehost::Host fake(16);
    fake.answerRegistrationWithText();
    ExcelFunctionRegistrationRegistry registry;
    registry.AddFunction(record("f.a"));
    registry.RegisterAll(host(16));
    EXPECT_EQ(registry.Functions().at("f.a")->GetRegisterId(), -1.0);
    registry.UnregisterAll();
    EXPECT_TRUE(fake.callsOf(xlfSetName).empty());
    EXPECT_TRUE(fake.callsOf(xlfUnregister).empty());
}

TEST_F(Registration, EmptyLibraryPathStopsRegistration) {
    fakehost::Host fake(16);
    ExcelFunctionRegistrationRegistry registry;
    registry.AddFunction(record("f.a"));
    HostContext context = host(16);
    context.libraryPath.clear();
    DiagnosticCapture capture;
    try {
        registry.RegisterAll(context);
        ADD_FAILURE() << "no exception";
    } catch (const xlframe::XlfGeneralException& error) {
        EXPECT_STREQ(error.what(), "Could not get library name");
    }
    EXPECT_NE(capture.text().find("): Could not get library name\n"), std::string::npos);
    EXPECT_TRUE(fake.callsOf(xlfRegister).empty());
}

TEST_F(Registration, UnregisterDeletesTheNameThenTheRegistration) {
    fakehost::Host fake(16);
    fake.reject("f.b", xlretInvXloper);
    ExcelFunctionRegistrationRegistry registry;
    for (const char* name : {"f.c", "f.a", "f.b"}) registry.AddFunction(record(name));
    DiagnosticCapture capture;
    registry.RegisterAll(host(16));
    const std::size_t before = fake.calls().size();
    registry.UnregisterAll();

    std::vector<fakehost::Call> after(fake.calls().begin() + static_cast<std::ptrdiff_t>(before), fake.calls().end());
    ASSERT_EQ(after.size(), 4u);  // f.b was never registered
    EXPECT_EQ(after[0].xlfn, xlfSetName);
    EXPECT_EQ(after[0].operands, (std::vector<fakehost::Value>{text("f.a")}));
    EXPECT_EQ(after[1].xlfn, xlfUnregister);
    EXPECT_EQ(after[1].operands, (std::vector<fakehost::Value>{number(fakehost::Host::idOf(1))}));
    EXPECT_EQ(after[2].xlfn, xlfSetName);
    EXPECT_EQ(after[2].operands, (std::vector<fakehost::Value>{text("f.c")}));
    EXPECT_EQ(after[3].xlfn, xlfUnregister);
    EXPECT_EQ(after[3].operands, (std::vector<fakehost::Value>{number(fakehost::Host::idOf(2))}));

    for (const auto& entry : registry.Functions()) EXPECT_EQ(entry.second->GetRegisterId(), -1.0);
    registry.UnregisterAll();  // nothing left to unregister
    EXPECT_EQ(fake.calls().size(), before + 4);
}

TEST_F(Registration, LoadingTwiceReplacesTheDescriptors) {
    fakehost::Host fake(16);
    ExcelFunctionRegistrationRegistry registry;
    registry.AddFunction(record("f.a"));
    registry.RegisterAll(host(16));
    const auto first = registry.Functions().at("f.a");
    registry.RegisterAll(host(16));
    const auto second = registry.Functions().at("f.a");
    EXPECT_NE(first.get(), second.get());
    EXPECT_EQ(second->GetRegisterId(), fakehost::Host::idOf(2));
    EXPECT_EQ(registry.Functions().size(), 1u);
}

TEST_F(Registration, HelpIdentifierOverridesTheTopicUnlessAuto) {
    struct Case {
        const char* helpId;
        std::string topic;
    };
    for (const Case& c : {Case{"custom!7", "custom!7"}, Case{"auto", "/h.chm!1"}, Case{"", "/h.chm!1"}}) {
        fakehost::Host fake(16);
        ExcelFunctionRegistrationRegistry registry;
        registry.AddFunction(RegistrationRecord("xlentry", "f.a", " d ", "Test Category", nullptr, 0, false, true, "",
                                                c.helpId, false, false, false));
        registry.RegisterAll(host(16, "/h.chm"));
        ASSERT_EQ(fake.callsOf(xlfRegister).size(), 1u);
        EXPECT_EQ(fake.callsOf(xlfRegister)[0].operands[8].text, c.topic) << c.helpId;
    }
}

TEST_F(Registration, DescriptorTextsFromRecordFlags) {
    struct Case {
        const char* what;
        int version;
        const char* returnCode;
        bool isVolatile, threadSafe, asynchronous, macroSheet, clusterSafe;
        std::string type, procedure;
    };
    const std::vector<Case> cases = {
        {"empty return code", 16, "", false, true, false, false, false, "QQQBBB$", "xlentry"},
        {"symbolic return code", 11, "XLF_XLOPER", false, true, false, false, false, "RPPBBB", "xlentry"},
        {"literal return code", 16, "B", true, false, false, false, false, "BQQBBB!", "xlentry"},
        {"asynchronous, version 14", 14, "", false, true, true, false, true, ">QQBBBX$&", "xlentrySync"},
        {"asynchronous, version 12", 12, "", false, false, true, true, true, "QQQBBB#", "xlentry"},
    };
    for (const Case& c : cases) {
        const RegistrationRecord r("xlentry", "f.a", " d ", "Test Category", rocArguments, 5, c.isVolatile,
                                   c.threadSafe, c.returnCode, "", c.asynchronous, c.macroSheet, c.clusterSafe);
        const auto desc = r.CreateFuncDesc();
        EXPECT_EQ(desc->TypeText(host(c.version)), c.type) << c.what;
        EXPECT_EQ(desc->ProcedureText(host(c.version)), c.procedure) << c.what;
        EXPECT_EQ(desc->ArgumentText(), "scores, indicators, scoreIndex, outputIndex, numBuckets");
        EXPECT_EQ(desc->GetRegisterId(), -1.0);
    }
}

TEST_F(Registration, RecordAddsItselfToTheRegistry) {
    const RegistrationRecord r("xlentry", "Registration.selfAdded", " d ", "Test Category", nullptr, 0, false, true, "",
                               "", false, false, false);
    const auto names = Registry().RecordNames();
    EXPECT_NE(std::find(names.begin(), names.end(), "Registration.selfAdded"), names.end());
}

TEST_F(Registration, OlderHostGetsAtMostTwentyHelpTexts) {
    std::vector<std::string> names, helps;
    for (int i = 0; i < 25; ++i) {
        names.push_back(std::string("a").append(std::to_string(i)));
        helps.push_back(std::string(" help ").append(std::to_string(i)));
    }
    const char* table[25][3];
    for (int i = 0; i < 25; ++i) {
        table[i][0] = names[i].c_str();
        table[i][1] = helps[i].c_str();
        table[i][2] = "XLF_OPER";
    }
    for (int version : {11, 16}) {
        fakehost::Host fake(version);
        ExcelFunctionRegistrationRegistry registry;
        registry.AddFunction(RegistrationRecord("xlentry", "f.many", " d ", "Test Category", table, 25, false, true, "",
                                                "", false, false, false));
        registry.RegisterAll(host(version));
        const auto registrations = fake.callsOf(xlfRegister);
        ASSERT_EQ(registrations.size(), 1u);
        const std::size_t passed = version >= 12 ? 25 : 20;
        ASSERT_EQ(registrations[0].operands.size(), 10 + passed);
        EXPECT_EQ(registrations[0].operands.back().text, helps[passed - 1] + ". ");
    }
}

}  // namespace
