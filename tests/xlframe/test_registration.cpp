// Registration through the stand-in host: what the registry hands over is read back from the
// registrations the host recorded.
#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>
#include <string>
#include <vector>

#include "tests/support/capture.hpp"
#include "tests/xlframe/frame_testing.hpp"
#include "xlframe/registration.hpp"

// Procedures the host finds in this executable, as it finds an add-in's exports.
XLL_EXPORT void xlentry() {}
XLL_EXPORT void xlentrySync() {}
XLL_EXPORT void xlcommand() {}

namespace xlframe::XLRegistration {
namespace {

using tavirune::testing::DiagnosticCapture;
using testing::AttachedHost;

const char* const rocArguments[][3] = {
    {"scores", " scores help ", "XLF_OPER"},  {"indicators", " indicators help ", "XLF_OPER"},
    {"scoreIndex", " scoreIndex help ", "B"}, {"outputIndex", " outputIndex help ", "B"},
    {"numBuckets", " numBuckets help ", "B"},
};

RegistrationRecord record(const char* name, const char* description = " description ", const char* helpId = "") {
    return RegistrationRecord("xlentry", name, description, "Test Category", rocArguments, 5, false, true, "", helpId,
                              false, false, false);
}

// A host of version 16 opened, and an empty registry.
class Registration : public ::testing::Test {
protected:
    TempMemory::EntryGuard guard_;  // what the records hand to the host lives here
    AttachedHost h;
    HostContext context = (h.open(), CurrentHost());
    ExcelFunctionRegistrationRegistry registry;
};

// Functions in byte order of their names (upper case first), then the commands, numbered on for their help topics;
// a later record of a name replaces the earlier one; the help identifier overrides the topic.
TEST_F(Registration, OrderHelpTopicsAndReplacement) {
    context.helpFile = "/addins/Tavirune.chm";
    for (const char* name : {"b.zeta", "a.mid", "B.alpha", "Z.upper"}) registry.AddFunction(record(name));
    registry.AddFunction(record("b.zeta", " second "));
    registry.AddFunction(record("c.custom", " d ", "custom!7"));
    registry.AddFunction(record("c.auto", " d ", "auto"));
    registry.AddCommand(std::make_shared<XlfCmdDesc>("xlcommand", "c.command", " command "));
    registry.RegisterAll(context);
    std::vector<std::string> got;
    for (const host::Registration& r : h->registrations()) got.push_back(r.name + " " + r.helpTopic + " " + std::to_string(r.macroType));
    EXPECT_EQ(got, (std::vector<std::string>{"B.alpha /addins/Tavirune.chm!1 1", "Z.upper /addins/Tavirune.chm!2 1",
                                             "a.mid /addins/Tavirune.chm!3 1", "b.zeta /addins/Tavirune.chm!4 1",
                                             "c.auto /addins/Tavirune.chm!5 1", "c.custom custom!7 1",
                                             "c.command /addins/Tavirune.chm!7 2"}));
    EXPECT_EQ(h->find("b.zeta")->description, " second ");
    // Loading again builds new descriptors under new identifiers.
    const auto first = registry.Functions().at("a.mid");
    registry.RegisterAll(context);
    const auto again = registry.Functions().at("a.mid");
    EXPECT_TRUE(again != first && again->GetRegisterId() == h->find("a.mid")->id && first->GetRegisterId() != again->GetRegisterId());
}

TEST_F(Registration, RejectedRegistrationIsReportedAndUnregisteringSkipsIt) {
    for (const char* name : {"f.c", "f.a"}) registry.AddFunction(record(name));
    registry.RegisterAll(context);
    // A later registration the host refuses: reported, and no identifier.
    h->options().rejectRegistration = xlretFailed;
    registry.AddFunction(record("f.b"));
    DiagnosticCapture capture;
    registry.RegisterAll(context);
    EXPECT_EQ(capture.messages(), (std::vector<std::string>{"Error 32 while registering f.a", "Error 32 while registering f.b",
                                                            "Error 32 while registering f.c"}));
    EXPECT_EQ(capture.text().rfind("registration.cpp(", 0), 0u) << capture.text();
    for (const auto& entry : registry.Functions()) EXPECT_EQ(entry.second->GetRegisterId(), -1.0) << entry.first;
    h->options().rejectRegistration.reset();
    registry.RegisterAll(context);
    h->clearRecords();
    registry.UnregisterAll();
    // Each name deleted, then its registration removed, in byte order.
    std::string calls;
    for (const host::HostCall& call : h->calls()) calls += (call.function == xlfSetName ? " name " : " id ") + call.detail;
    EXPECT_EQ(calls, " name f.a id 1003 name f.b id 1004 name f.c id 1005");
    for (const auto& entry : registry.Functions()) EXPECT_EQ(entry.second->GetRegisterId(), -1.0);
    registry.UnregisterAll();  // nothing left to unregister
    EXPECT_EQ(h->calls().size(), 6u);
}

TEST_F(Registration, EmptyLibraryPathStopsRegistration) {
    context.libraryPath.clear();
    registry.AddFunction(record("f.a"));
    DiagnosticCapture capture;
    EXPECT_EQ(testing::failureText([&] { registry.RegisterAll(context); }), "Could not get library name");
    EXPECT_EQ(capture.messages(), std::vector<std::string>{"Could not get library name"});
    EXPECT_TRUE(h->registrations().empty());
}

TEST(RegistrationLimits, HelpTextsAreLimitedByTheOperandsOfOneCall) {
    TempMemory::EntryGuard guard;
    std::vector<std::string> names, helps;
    static const char* table[250][3];
    for (std::size_t i = 0; i < 250; ++i) {
        names.push_back(std::string("a").append(std::to_string(i)));  // not "a" + ...: a false restrict warning at -O3
        helps.push_back(std::string(" help ").append(std::to_string(i)));
    }
    for (std::size_t i = 0; i < 250; ++i) table[i][0] = names[i].c_str(), table[i][1] = helps[i].c_str(), table[i][2] = "B";
    for (const auto& [version, given, passed] :
         std::initializer_list<std::tuple<int, int, int>>{{11, 25, 20}, {11, 20, 20}, {16, 250, 245}, {16, 19, 19}}) {
        AttachedHost h({.version = version});
        const HostContext context = (h.open(), CurrentHost());
        ExcelFunctionRegistrationRegistry registry;
        registry.AddFunction(RegistrationRecord("xlentry", "f.many", " d ", "Test Category", table, given, false, false,
                                                "", "", false, false, false));
        DiagnosticCapture capture;  // more arguments than the wizard shows
        registry.RegisterAll(context);
        ASSERT_EQ(h->registrations().size(), 1u) << version << " " << given;
        const std::vector<std::string>& got = h->registrations()[0].argumentHelp;
        ASSERT_EQ(got.size(), static_cast<std::size_t>(passed));
        EXPECT_TRUE(std::equal(got.begin(), got.end() - 1, helps.begin()));
        EXPECT_EQ(got.back(), helps[static_cast<std::size_t>(passed) - 1] + ". ");
    }
    EXPECT_EQ(MaxArgumentHelpTexts(11), 20u);
    EXPECT_EQ(MaxArgumentHelpTexts(12), 245u);
}

TEST(RegistrationTexts, TypeTextPerHostVersionAndFlags) {
    FunctionFlags none, threadSafe, all;
    threadSafe.threadSafe = true;
    all.isVolatile = all.threadSafe = all.asynchronous = all.macroSheetEquivalent = all.clusterSafe = true;
    const std::tuple<const char*, std::vector<std::string>, int, FunctionFlags, const char*> cases[] = {
        {"Q", {"Q", "Q", "B"}, 12, threadSafe, "QQQB$"}, {"P", {"P", "B"}, 11, threadSafe, "PPB"},
        {"Q", {}, 16, threadSafe, "Q$"},                 {"Q", {"Q"}, 16, none, "QQ"},
        {"Q", {"Q", "B"}, 14, all, ">QBX!$&#"},          {"Q", {"Q", "B"}, 13, all, "QQB!$#"},
        {"P", {"P", "B"}, 11, all, "PPB!#"},
    };
    for (const auto& [code, arguments, version, flags, expected] : cases)
        EXPECT_EQ(TypeText(code, arguments, version, flags), expected);
    // The descriptor's own translation of symbolic codes and flags, and its procedure name.
    const RegistrationRecord async("xlentry", "f.a", " d ", "Test Category", rocArguments, 5, false, true, "XLF_XLOPER",
                                   "", true, false, true);
    HostContext context{14, "/x.xll", "", [](const std::string& code) { return code == "XLF_OPER" ? "Q" : code == "XLF_XLOPER" ? "U" : code; }};
    EXPECT_EQ(async.CreateFuncDesc()->TypeText(context), ">QQBBBX$&");
    EXPECT_EQ(async.CreateFuncDesc()->ProcedureText(context), "xlentrySync");
    context.version = 12;
    EXPECT_EQ(async.CreateFuncDesc()->TypeText(context), "UQQBBB$");
    EXPECT_EQ(async.CreateFuncDesc()->ProcedureText(context), "xlentry");
}

TEST(RegistrationTexts, ArgumentTextUpToTheWizardLimit) {
    EXPECT_EQ(ArgumentText({"inputMatrix"}), "inputMatrix");
    EXPECT_EQ(ArgumentText({}), "");
    // 36 names of five characters and one of three: 255 characters, kept; one more: replaced.
    std::vector<std::string> names(36, "abcde");
    names.push_back("xyz");
    EXPECT_EQ(ArgumentText(names).size(), 255u);
    names.back() = "wxyz";
    EXPECT_EQ(ArgumentText(names), "Too many arguments for Function Wizard");
}

TEST(RegistrationTexts, LongArgumentNameWarnsOnly) {
    for (const auto& [name, warns] : std::initializer_list<std::pair<std::string, bool>>{
             {"abcdefghijklmnopqrs", true}, {"abcdefghijklmnopqr", false}, {"", false}}) {
        DiagnosticCapture capture;
        const XlfArgDesc argument(name, " help ", "XLF_OPER");
        EXPECT_EQ(capture.text().find("Argument name \"" + name + "\" may be too long to fit the in the function wizard\n"),
                  warns ? capture.text().find("): ") + 3 : std::string::npos) << name;
        EXPECT_EQ(argument.GetName() + argument.GetComment() + argument.GetType(), name + " help XLF_OPER");
    }
}

}  // namespace
}  // namespace xlframe::XLRegistration
