// The stand-in host on a small fake add-in: loading and registration under both record
// generations, the callbacks' answers, calls through every type code, faults and lifecycle.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <filesystem>
#include <thread>

#include "host/standin_host.hpp"
#include "xlframe/platform.hpp"
#include "xlframe/xlcall.hpp"

extern "C" int MdCallBack12(int xlfn, int count, xloper12* operands[], xloper12* result);

namespace {

using host::Argument;
using host::Blank;
using host::ErrorValue;
using host::Table;
using host::Value;

const std::string fakeAddin = TAVIRUNE_FAKE_ADDIN;

Table cells(std::size_t rows, std::size_t columns, std::vector<Value> values) {
    Table table(rows, columns);
    table.cells = std::move(values);
    return table;
}

Table one(Value value) { return cells(1, 1, {std::move(value)}); }

// A copy of the fake add-in of its own, so that its process-wide state starts afresh.
std::string freshCopy(const std::string& tag) {
    const auto folder = std::filesystem::temp_directory_path() / ("tavirune-host-" + std::to_string(::getpid()) + "-" + tag);
    std::filesystem::create_directories(folder);
    const auto copy = folder / "Fake.xll";
    std::filesystem::copy_file(fakeAddin, copy, std::filesystem::copy_options::overwrite_existing);
    return copy.string();
}

class Host : public ::testing::Test {
protected:
    Table call(host::StandInHost& h, const std::string& name, std::vector<Argument> arguments) {
        const host::Registration* f = h.find(name);
        if (!f) throw std::runtime_error(name + " not registered");
        return h.call(*f, arguments);
    }
};

TEST_F(Host, RegistersEveryFunctionItFindsWithItsOperandsUnderANewerHost) {
    host::StandInHost h({.version = 16});
    h.load(fakeAddin);
    EXPECT_TRUE(h.loaded());
    EXPECT_EQ(h.autoOpenResult(), 1);
    // 18 attempts on this host: one procedure is not exported and one type text is malformed.
    EXPECT_EQ(h.registrations().size(), 16u);
    EXPECT_EQ(h.find("Fake.missing"), nullptr);
    EXPECT_EQ(h.find("Fake.badType"), nullptr);
    const host::Registration* echo = h.find("FAKE.ECHO");
    ASSERT_NE(echo, nullptr);
    EXPECT_EQ(echo->module, std::filesystem::absolute(fakeAddin).string());
    EXPECT_EQ(echo->procedure, "fakeEcho");
    EXPECT_EQ(echo->typeText, "QQ$");
    EXPECT_EQ(echo->name, "Fake.echo");
    EXPECT_EQ(echo->argumentText, "value");
    EXPECT_EQ(echo->macroType, 1);
    EXPECT_EQ(echo->category, "Fake");
    EXPECT_EQ(echo->shortcut, "");
    EXPECT_EQ(echo->helpTopic, "");
    EXPECT_EQ(echo->description, " Fake.echo ");
    EXPECT_EQ(echo->argumentHelp, std::vector<std::string>{" First argument. "});
    EXPECT_GT(echo->id, 0);
    EXPECT_NE(h.find("Fake.describe")->id, echo->id);
    ASSERT_NE(h.find("Fake.async"), nullptr);
    EXPECT_EQ(h.find("Fake.async")->typeText, ">QX");
}

TEST_F(Host, OlderHostTakesOnlyTheOlderRecordsAndCodes) {
    host::StandInHost h({.version = 11});
    h.load(fakeAddin);
    auto fakeVersion = reinterpret_cast<int (*)()>(h.symbol("fakeHostVersion"));
    ASSERT_NE(fakeVersion, nullptr);
    EXPECT_EQ(fakeVersion(), 11);
    EXPECT_EQ(h.registrations().size(), 12u);
    EXPECT_EQ(h.find("Fake.describe"), nullptr);
    EXPECT_EQ(h.find("Fake.returnCW"), nullptr);
    EXPECT_EQ(h.find("Fake.echo")->typeText, "PP");
    EXPECT_EQ(h.find("Fake.echo")->procedure, "fakeEcho11");
    EXPECT_EQ(call(h, "Fake.echo", {Argument::fromRange(cells(1, 2, {1.5, std::string("a")}))}),
              cells(1, 2, {1.5, std::string("a")}));
    // A text of the older records holds at most 255 bytes, cut on a character boundary.
    EXPECT_EQ(call(h, "Fake.echo", {Argument::fromValue(std::string(300, 'x'))}), one(std::string(255, 'x')));
    std::string accents;
    for (int i = 0; i < 200; ++i) accents += "\xC3\xA9";
    EXPECT_EQ(std::get<std::string>(call(h, "Fake.echo", {Argument::fromValue(accents)}).at(0, 0)), accents.substr(0, 254));
    // More rows than the older array records can count.
    EXPECT_THROW(call(h, "Fake.echo", {Argument::fromRange(Table(65536, 1))}), std::length_error);
    EXPECT_EQ(call(h, "Fake.echo", {Argument::fromRange(Table(65535, 1))}).rows, 65535u);
}

TEST_F(Host, VersionTwelveHasNoAsynchronousFunctions) {
    host::StandInHost h({.version = 12});
    h.load(fakeAddin);
    EXPECT_EQ(h.registrations().size(), 14u);
    EXPECT_EQ(h.find("Fake.async"), nullptr);
    EXPECT_NE(h.find("Fake.describe"), nullptr);
}

TEST_F(Host, EchoesRangesSingleValuesAndOmittedArguments) {
    host::StandInHost h;
    h.load(fakeAddin);
    auto liveCopies = reinterpret_cast<long (*)()>(h.symbol("fakeLiveCopies"));
    const Table mixed = cells(2, 3, {1.0, std::string("text"), true, ErrorValue{7}, Blank{}, std::string("\xC3\xA9t\xC3\xA9")});
    struct Case {
        Argument argument;
        Table expected;
    };
    const Case cases[] = {
        {Argument::fromRange(mixed), mixed},
        {Argument::fromValue(2.5), one(2.5)},
        {Argument::fromValue(std::string("abc")), one(std::string("abc"))},
        {Argument::fromValue(false), one(false)},
        {Argument::fromValue(ErrorValue{42}), one(ErrorValue{42})},
        {Argument::fromValue(Blank{}), one(Blank{})},
        {Argument::fromValue(std::nan("")), one(ErrorValue{36})},
        {Argument::missing(), one(Blank{})},
    };
    const std::size_t freesBefore = h.addinFrees();
    for (const Case& c : cases) EXPECT_EQ(h.call(*h.find("Fake.echo"), {c.argument}), c.expected);
    // Every copy the add-in returned with its memory bit went back through xlAutoFree12.
    EXPECT_EQ(h.addinFrees() - freesBefore, std::size(cases));
    EXPECT_EQ(liveCopies(), 0);
    // Omitted trailing arguments are passed as missing; too many are refused.
    EXPECT_EQ(call(h, "Fake.echo", {}), one(Blank{}));
    EXPECT_THROW(call(h, "Fake.echo", {Argument::missing(), Argument::missing()}), std::invalid_argument);
}

TEST_F(Host, BuildsEveryArgumentCodeFromCells) {
    host::StandInHost h;
    h.load(fakeAddin);
    const Table result = call(h, "Fake.describe",
                              {Argument::fromValue(std::string("12.5")), Argument::fromValue(-2.9),
                               Argument::fromValue(std::string("true")), Argument::fromValue(3.0),
                               Argument::fromValue(std::string("wide")), Argument::fromRange(cells(2, 1, {1.0, Blank{}})),
                               Argument::fromValue(4.0), Argument::fromRange(cells(1, 2, {1.0, std::string("a")})),
                               Argument::missing(), Argument::fromRange(Table(2, 3)), Argument::fromValue(true)});
    EXPECT_EQ(result, cells(1, 11,
                            {std::string("num 12.5"), std::string("int -2"), std::string("bool TRUE"), std::string("str 3"),
                             std::string("wstr wide"), std::string("fp 2x1:1,0"), std::string("fp 1x1:4"),
                             std::string("multi 1x2:num 1,str a"), std::string("missing"), std::string("ref 1 0:1,0:2"),
                             std::string("bool TRUE")}));

    host::StandInHost& same = h;
    same.unload();
    host::StandInHost old({.version = 11});
    old.load(fakeAddin);
    EXPECT_EQ(call(old, "Fake.describe11",
                   {Argument::missing(), Argument::missing(), Argument::missing(), Argument::missing(),
                    Argument::fromValue(1.0), Argument::fromValue(Blank{}), Argument::fromRange(Table(1, 1))}),
              cells(1, 7, {std::string("num 0"), std::string("int 0"), std::string("bool FALSE"), std::string("str "),
                           std::string("fp 1x1:1"), std::string("nil"), std::string("ref 1 0:0,0:0")}));
}

TEST_F(Host, HandsOverTheCallersRecordsAsTheyAre) {
    host::StandInHost h;
    h.load(fakeAddin);
    // What cells cannot say: an integer element and a lone surrogate.
    XCHAR text[] = {2, u'a', 0xD800};
    xloper12 elements[2] = {};
    elements[0].xltype = xltypeInt;
    elements[0].val.w = -7;
    elements[1].xltype = xltypeStr;
    elements[1].val.str = text;
    xloper12 array{};
    array.xltype = xltypeMulti;
    array.val.array.lparray = elements;
    array.val.array.rows = 1;
    array.val.array.columns = 2;
    DWORD returnedType = 0;
    const Table result = h.callRecords(*h.find("Fake.echo"), {host::RawArgument::fromRecord(&array)},
                                       [&](const void* r) { returnedType = static_cast<const xloper12*>(r)->xltype; });
    EXPECT_EQ(result, cells(1, 2, {-7.0, std::string("a\xEF\xBF\xBD")}));
    EXPECT_EQ(returnedType, xltypeMulti | xlbitDLLFree);
    EXPECT_EQ(h.hostAllocations(), 0u);
    // Omitted: a missing record. A code other than a record or B is refused.
    EXPECT_EQ(h.callRecords(*h.find("Fake.echo"), {}), one(Blank{}));
    EXPECT_THROW(h.callRecords(*h.find("Fake.describe"), {}), std::invalid_argument);
    // A record handed over as the host's own, which the echo never hands back, stays the host's.
    array.xltype |= xlbitXLFree;
    h.callRecords(*h.find("Fake.echo"), {host::RawArgument::fromRecord(&array)});
    EXPECT_EQ(h.hostAllocations(), 1u);
    EXPECT_EQ(h.strayFrees(), 0u);
}

TEST_F(Host, ConvertsDoubleArgumentsAsASpreadsheetDoes) {
    host::StandInHost h;
    h.load(fakeAddin);
    struct Case {
        Argument argument;
        Value doubled;
    };
    const Case cases[] = {
        {Argument::fromValue(1.5), 3.0},
        {Argument::fromValue(true), 2.0},
        {Argument::fromValue(std::string("12.5")), 25.0},
        {Argument::fromValue(std::string(" 7 ")), 14.0},
        {Argument::fromValue(std::string("50%")), 1.0},
        {Argument::fromValue(std::string("abc")), ErrorValue{15}},
        {Argument::fromValue(Blank{}), 0.0},
        {Argument::missing(), 0.0},
        {Argument::fromValue(ErrorValue{42}), ErrorValue{42}},
        {Argument::fromRange(one(3.0)), 6.0},
        {Argument::fromRange(cells(2, 1, {1.0, 2.0})), ErrorValue{15}},
        {Argument::fromValue(1e308), ErrorValue{36}},  // the doubled result is not finite
    };
    for (const Case& c : cases) EXPECT_EQ(call(h, "Fake.returnB", {c.argument}), one(c.doubled));
}

TEST_F(Host, ReadsEveryReturnCode) {
    host::StandInHost h;
    h.load(fakeAddin);
    EXPECT_EQ(call(h, "Fake.returnJ", {Argument::fromValue(2.7)}), one(3.0));
    EXPECT_EQ(call(h, "Fake.returnJ", {Argument::fromValue(-2.7)}), one(-1.0));
    EXPECT_EQ(call(h, "Fake.returnJ", {Argument::fromValue(3e9)}), one(ErrorValue{36}));
    EXPECT_EQ(call(h, "Fake.returnA", {Argument::fromValue(true)}), one(false));
    EXPECT_EQ(call(h, "Fake.returnA", {Argument::fromValue(0.0)}), one(true));
    EXPECT_EQ(call(h, "Fake.returnA", {Argument::fromValue(std::string("maybe"))}), one(ErrorValue{15}));
    EXPECT_EQ(call(h, "Fake.returnC", {Argument::fromValue(std::string("ab"))}), one(std::string("<ab>")));
    EXPECT_EQ(call(h, "Fake.returnC", {Argument::fromValue(false)}), one(std::string("<FALSE>")));
    EXPECT_EQ(call(h, "Fake.returnCW", {Argument::fromValue(std::string("\xC3\xA9\xF0\x9F\x98\x80"))}),
              one(std::string("<\xC3\xA9\xF0\x9F\x98\x80>")));
    EXPECT_EQ(call(h, "Fake.returnK", {Argument::fromRange(cells(1, 2, {1.0, 2.5}))}), cells(1, 2, {2.0, 5.0}));
    EXPECT_EQ(call(h, "Fake.returnKW", {Argument::fromRange(cells(2, 1, {-1.0, Blank{}}))}), cells(2, 1, {-2.0, 0.0}));
    EXPECT_EQ(call(h, "Fake.returnK", {Argument::fromRange(cells(1, 2, {1.0, std::string("x")}))}), one(ErrorValue{15}));
    EXPECT_EQ(call(h, "Fake.returnK", {Argument::missing()}), one(ErrorValue{15}));
    EXPECT_EQ(call(h, "Fake.returnNull", {}), one(ErrorValue{36}));
    // A returned reference shows the cells it refers to.
    const Table block = cells(2, 2, {1.0, std::string("b"), Blank{}, true});
    EXPECT_EQ(call(h, "Fake.returnRef", {Argument::fromRange(block)}), block);
    EXPECT_EQ(call(h, "Fake.void", {Argument::fromValue(1.0)}), one(Blank{}));
    EXPECT_EQ(call(h, "Fake.async", {Argument::fromValue(1.0)}), one(ErrorValue{43}));
    EXPECT_EQ(call(h, "Fake.volatile", {}), one(7.0));
}

TEST_F(Host, CoercesWithTheHostsRulesAndTakesItsMemoryBack) {
    for (int version : {11, 16}) {
        SCOPED_TRACE(version);
        host::StandInHost h({.version = version});
        h.load(fakeAddin);
        struct Case {
            Argument value;
            DWORD type;
            Table expected;  // a negative number: the host's status
        };
        const Table block = cells(2, 2, {1.0, std::string("x"), true, Blank{}});
        const Case cases[] = {
            {Argument::fromValue(std::string("12.5")), xltypeNum, one(12.5)},
            {Argument::fromValue(12.5), xltypeStr, one(std::string("12.5"))},
            {Argument::fromValue(0.1 + 0.2), xltypeStr, one(std::string("0.3"))},
            {Argument::fromValue(1e20), xltypeStr, one(std::string("1E+20"))},
            {Argument::fromValue(true), xltypeStr, one(std::string("TRUE"))},
            {Argument::fromValue(true), xltypeNum, one(1.0)},
            {Argument::fromValue(std::string("false")), xltypeBool, one(false)},
            {Argument::fromValue(2.0), xltypeBool, one(true)},
            {Argument::fromValue(std::string("yes")), xltypeBool, one(-32.0)},
            {Argument::fromValue(2.5), xltypeInt, one(3.0)},
            {Argument::fromValue(-2.5), xltypeInt, one(-3.0)},
            {Argument::fromValue(std::string("16.0")), xltypeInt, one(16.0)},
            {Argument::fromValue(std::string("16.0 (build)")), xltypeInt, one(-32.0)},
            {Argument::fromValue(1e10), xltypeInt, one(version < 12 ? -32.0 : -32.0)},
            {Argument::fromValue(40000.0), xltypeInt, one(version < 12 ? -32.0 : 40000.0)},
            {Argument::fromValue(std::string("abc")), xltypeNum, one(-32.0)},
            {Argument::fromValue(ErrorValue{7}), xltypeNum, one(-32.0)},
            {Argument::fromValue(ErrorValue{7}), xltypeErr | xltypeNum, one(ErrorValue{7})},
            {Argument::fromValue(Blank{}), xltypeNum, one(0.0)},
            {Argument::fromValue(Blank{}), xltypeStr, one(std::string())},
            {Argument::fromValue(4.0), xltypeMulti, one(4.0)},
            {Argument::fromRange(block), xltypeMulti, block},
            {Argument::fromRange(block), xltypeNum, one(1.0)},
            {Argument::fromValue(3.0), xltypeNum | xltypeStr, one(3.0)},
            {Argument::fromValue(true), xltypeNum | xltypeStr, one(1.0)},
        };
        for (const Case& c : cases) {
            EXPECT_EQ(call(h, "Fake.coerce", {c.value, Argument::fromValue(static_cast<double>(c.type))}), c.expected)
                << c.type;
        }
        EXPECT_EQ(h.hostAllocations(), 0u);
    }
}

template <class X>
X integer(int value) {
    X x{};
    x.xltype = xltypeInt;
    x.val.w = static_cast<decltype(x.val.w)>(value);
    return x;
}

int excel4v(int xlfn, xloper* result, std::vector<xloper*> operands) {
    void* library = ::dlopen("XLCALL32.DLL", RTLD_NOW | RTLD_NOLOAD);
    if (!library) return -1;
    auto f = reinterpret_cast<EXCEL4VPROC>(::dlsym(library, "Excel4v"));
    const int status = f(xlfn, result, static_cast<int>(operands.size()), operands.data());
    ::dlclose(library);
    return status;
}

int md(int xlfn, xloper12* result, std::vector<xloper12*> operands) {
    return MdCallBack12(xlfn, static_cast<int>(operands.size()), operands.data(), result);
}

TEST_F(Host, AnswersTheFrameworksQueries) {
    host::StandInHost h({.version = 16, .libraryPath = "/opt/addins/Tavirune.xll"});
    h.load(fakeAddin);
    xloper12 result{};
    EXPECT_EQ(md(xlGetName, &result, {}), xlretSuccess);
    EXPECT_EQ(result.xltype, xltypeStr | xlbitXLFree);
    EXPECT_EQ(std::u16string(result.val.str + 1, result.val.str[0]), u"/opt/addins/Tavirune.xll");
    EXPECT_EQ(h.hostAllocations(), 1u);
    EXPECT_EQ(md(xlFree, nullptr, {&result}), xlretSuccess);
    EXPECT_EQ(h.hostAllocations(), 0u);

    xloper12 two = integer<xloper12>(2);
    EXPECT_EQ(md(xlfGetWorkspace, &result, {&two}), xlretSuccess);
    EXPECT_EQ(std::u16string(result.val.str + 1, result.val.str[0]), u"16.0");
    md(xlFree, nullptr, {&result});

    EXPECT_EQ(md(xlGetHwnd, &result, {}), xlretSuccess);
    EXPECT_EQ(result.xltype, xltypeInt);
    const int handle = result.val.w;
    xloper old{};
    EXPECT_EQ(excel4v(xlGetHwnd, &old, {}), xlretSuccess);
    // The older records carry only the low 16 bits.
    EXPECT_EQ(static_cast<std::uint16_t>(old.val.w), handle & 0xFFFF);
    EXPECT_GT(handle, 0xFFFF);

    EXPECT_EQ(md(xlSheetId, &result, {}), xlretSuccess);
    EXPECT_EQ(result.xltype, xltypeRef);
    EXPECT_NE(result.val.mref.idSheet, 0u);
    EXPECT_EQ(result.val.mref.lpmref, nullptr);

    xloper12 on{};
    on.xltype = xltypeBool;
    on.val.xbool = 1;
    std::u16string message = u"_Busy!";
    message[0] = 5;
    xloper12 text{};
    text.xltype = xltypeStr;
    text.val.str = message.data();
    EXPECT_EQ(md(xlcMessage, &result, {&on, &text}), xlretSuccess);
    EXPECT_EQ(h.statusBar(), "Busy!");
    on.val.xbool = 0;
    EXPECT_EQ(md(xlcMessage, &result, {&on}), xlretSuccess);
    EXPECT_EQ(h.statusBar(), "");

    EXPECT_EQ(md(xlfCaller, &result, {}), xlretInvXlfn);
    EXPECT_EQ(excel4v(xlSheetNm, &old, {}), xlretInvXlfn);
    std::vector<xloper12> many(256, integer<xloper12>(1));
    std::vector<xloper12*> pointers;
    for (auto& m : many) pointers.push_back(&m);
    EXPECT_EQ(md(xlFree, nullptr, pointers), xlretInvCount);
    EXPECT_EQ(MdCallBack12(xlFree, 1, nullptr, nullptr), xlretInvXloper);
}

TEST_F(Host, OlderHostHasNoMdCallBack12AndThirtyOperands) {
    host::StandInHost h({.version = 11});
    h.load(fakeAddin);
    xloper12 result{};
    EXPECT_EQ(md(xlGetName, &result, {}), xlretFailed);
    std::vector<xloper> many(31, integer<xloper>(1));
    std::vector<xloper*> pointers;
    for (auto& m : many) pointers.push_back(&m);
    xloper old{};
    EXPECT_EQ(excel4v(xlFree, &old, pointers), xlretInvCount);
    pointers.pop_back();
    EXPECT_EQ(excel4v(xlFree, &old, pointers), xlretSuccess);
}

TEST_F(Host, VersionFaults) {
    struct Case {
        host::HostOptions options;
        int fakeVersion;  // what the fake add-in makes of the answer
    };
    Case cases[] = {
        {{.version = 16}, 16},
        {{.version = 12}, 12},
        {{.version = 16, .uncoercibleVersion = true}, 10},
        {{.version = 16, .versionNotText = true}, 10},
    };
    cases[2].options.uncoercibleVersion = true;
    for (Case& c : cases) {
        host::StandInHost h(c.options);
        h.load(fakeAddin);
        EXPECT_EQ(reinterpret_cast<int (*)()>(h.symbol("fakeHostVersion"))(), c.fakeVersion);
        xloper two = integer<xloper>(2);
        xloper answer{};
        ASSERT_EQ(excel4v(xlfGetWorkspace, &answer, {&two}), xlretSuccess);
        if (c.options.versionNotText) {
            EXPECT_EQ(answer.xltype, xltypeErr);
            EXPECT_EQ(answer.val.err, xlerrNA);
        } else {
            const std::string text(answer.val.str + 1, static_cast<unsigned char>(answer.val.str[0]));
            EXPECT_EQ(text, c.options.uncoercibleVersion ? "16.0 (stand-in)" : std::to_string(c.options.version) + ".0");
            excel4v(xlFree, nullptr, {&answer});
        }
        EXPECT_EQ(h.hostAllocations(), 0u);
    }
}

TEST_F(Host, FailedOpenLeavesNothingRegistered) {
    struct Case {
        const char* what;
        host::HostOptions options;
    };
    Case cases[] = {{"library path", {}}, {"rejected registration", {}}, {"no MdCallBack12", {}}};
    cases[0].options.libraryPathFails = true;
    cases[1].options.rejectRegistration = xlretFailed;
    cases[2].options.noMdCallBack12 = true;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        host::StandInHost h(c.options);
        try {
            h.load(fakeAddin);
            ADD_FAILURE() << "the add-in opened";
        } catch (const std::runtime_error& error) {
            EXPECT_NE(std::string(error.what()).find("xlAutoOpen returned 0"), std::string::npos) << error.what();
        }
        EXPECT_TRUE(h.loaded());
        EXPECT_EQ(h.autoOpenResult(), 0);
        EXPECT_TRUE(h.registrations().empty());
        h.unload();
        EXPECT_FALSE(h.loaded());
    }
}

TEST_F(Host, LoadFailuresAreClear) {
    host::StandInHost h;
    try {
        h.load("/nonexistent/Tavirune.xll");
        ADD_FAILURE();
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find("/nonexistent/Tavirune.xll"), std::string::npos);
    }
    EXPECT_FALSE(h.loaded());
    h.load(fakeAddin);
    EXPECT_THROW(h.load(fakeAddin), std::logic_error);
    host::StandInHost second;
    EXPECT_THROW(second.load(fakeAddin), std::logic_error);
}

TEST_F(Host, CloseWithoutRemoveKeepsTheRegistrations) {
    const std::string copy = freshCopy("close");
    host::StandInHost h;
    h.load(copy);
    EXPECT_EQ(h.registrations().size(), 16u);
    h.unload();
    EXPECT_EQ(h.registrations().size(), 16u);
    EXPECT_TRUE(h.unregistrations().empty());
    EXPECT_THROW(h.call(h.registrations()[0], {}), std::invalid_argument);
    // Opening again registers the same names again, in place of the earlier ones.
    h.load(copy);
    EXPECT_EQ(h.registrations().size(), 16u);
    EXPECT_EQ(call(h, "Fake.returnB", {Argument::fromValue(2.0)}), one(4.0));
}

TEST_F(Host, RemoveThenCloseDeletesEachNameThenUnregistersIt) {
    const std::string copy = freshCopy("remove");
    host::StandInHost h;
    h.load(copy);
    const std::vector<host::Registration> registered = h.registrations();
    const std::size_t before = h.calls().size();
    h.unload(true);
    EXPECT_TRUE(h.registrations().empty());
    std::vector<std::string> names;
    std::vector<host::HostCall> expected;
    for (const auto& r : registered) {
        names.push_back(r.name);
        expected.push_back({xlfSetName, r.name});
        char id[32];
        std::snprintf(id, sizeof id, "%.15G", r.id);
        expected.push_back({xlfUnregister, id});
    }
    EXPECT_EQ(h.unregistrations(), names);
    std::vector<host::HostCall> calls = h.calls();
    calls.erase(calls.begin(), calls.begin() + static_cast<std::ptrdiff_t>(before));
    ASSERT_EQ(calls.size(), expected.size());
    for (std::size_t i = 0; i < calls.size(); ++i) {
        EXPECT_EQ(calls[i].function, expected[i].function) << i;
        EXPECT_EQ(calls[i].detail, expected[i].detail) << i;
    }
}

TEST_F(Host, CallsFromSeveralThreadsAgreeWithOneThread) {
    host::StandInHost h;
    h.load(fakeAddin);
    const Table block = cells(3, 2, {1.0, std::string("a"), true, Blank{}, ErrorValue{42}, -4.5});
    struct Job {
        std::string name;
        std::vector<Argument> arguments;
        Table expected;
    };
    std::vector<Job> jobs = {
        {"Fake.echo", {Argument::fromRange(block)}, {}},
        {"Fake.returnB", {Argument::fromValue(std::string("1.25"))}, {}},
        {"Fake.returnCW", {Argument::fromValue(std::string("x"))}, {}},
        {"Fake.returnKW", {Argument::fromRange(cells(1, 3, {1.0, 2.0, 3.0}))}, {}},
        {"Fake.coerce", {Argument::fromValue(12.5), Argument::fromValue(static_cast<double>(xltypeStr))}, {}},
        {"Fake.returnRef", {Argument::fromRange(block)}, {}},
        {"Fake.serial", {Argument::fromValue(3.0)}, {}},
        {"Fake.describe", std::vector<Argument>(11, Argument::fromValue(1.0)), {}},
    };
    for (Job& job : jobs) job.expected = call(h, job.name, job.arguments);
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                const Job& job = jobs[static_cast<std::size_t>(i + t) % jobs.size()];
                if (h.call(*h.find(job.name), job.arguments) != job.expected) ++mismatches;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(mismatches.load(), 0);
    EXPECT_EQ(h.hostAllocations(), 0u);
    EXPECT_EQ(reinterpret_cast<long (*)()>(h.symbol("fakeLiveCopies"))(), 0);
    // A function registered without "$" is called on one thread at a time.
    EXPECT_EQ(reinterpret_cast<int (*)()>(h.symbol("fakeMostInFlight"))(), 1);
}

TEST_F(Host, CommandsFromWorkerThreadsAreRefused) {
    host::StandInHost h;
    h.load(fakeAddin);
    int status = 0;
    std::thread([&] {
        std::u16string name = {1, u'x'};
        xloper12 text{};
        text.xltype = xltypeStr;
        text.val.str = name.data();
        xloper12 result{};
        status = md(xlfSetName, &result, {&text});
    }).join();
    EXPECT_EQ(status, xlretNotThreadSafe);
}

TEST_F(Host, RangesAsReferencesFault) {
    host::StandInHost h({.version = 16});
    h.load(fakeAddin);
    h.options().rangesAsReferences = true;
    const Table result = call(h, "Fake.describe",
                              {Argument::missing(), Argument::missing(), Argument::missing(), Argument::missing(),
                               Argument::missing(), Argument::fromValue(1.0), Argument::fromValue(1.0),
                               Argument::fromRange(Table(2, 2)), Argument::fromRange(Table(3, 1)), Argument::missing(),
                               Argument::missing()});
    EXPECT_EQ(result.at(0, 7), Value(std::string("ref 1 0:1,0:1")));
    EXPECT_EQ(result.at(0, 8), Value(std::string("ref 1 0:2,0:0")));
    h.options().rangesAsReferences = false;
    h.options().multiAreaReferences = true;
    const Table twice = call(h, "Fake.echo", {Argument::fromRange(Table(2, 2))});
    EXPECT_EQ(twice, one(Blank{}));  // the fake add-in copies a reference as missing
    EXPECT_EQ(call(h, "Fake.describe",
                   {Argument::missing(), Argument::missing(), Argument::missing(), Argument::missing(), Argument::missing(),
                    Argument::fromValue(1.0), Argument::fromValue(1.0), Argument::missing(), Argument::fromRange(Table(3, 1)),
                    Argument::missing(), Argument::missing()})
                  .at(0, 8),
              Value(std::string("ref 2 0:2,0:0")));
}

TEST_F(Host, ShowsTheFunctionWizardOnTheMainThread) {
    using Windows = std::size_t (*)(int, std::uint64_t, TaviruneStandInWindow*, std::size_t);
    auto windows = reinterpret_cast<Windows>(::dlsym(::dlopen(nullptr, RTLD_NOW), "TaviruneStandInWindows"));
    ASSERT_NE(windows, nullptr);
    host::StandInHost h;
    h.load(fakeAddin);
    const auto self = static_cast<std::uint64_t>(::gettid());
    TaviruneStandInWindow list[4]{};
    ASSERT_EQ(windows(0, self, list, 4), 1u);
    EXPECT_STREQ(list[0].className, "XLMAIN");
    h.options().functionWizardOpen = true;
    ASSERT_EQ(windows(0, static_cast<std::uint64_t>(::pthread_self()), list, 4), 2u);
    EXPECT_STREQ(list[1].className, "bosa_sdm_XL9");
    EXPECT_STREQ(list[1].title, "Function Arguments");
    EXPECT_EQ(list[1].titleReadable, 1);
    // Asked with too little room, it tells how many there are and writes only what fits.
    EXPECT_EQ(windows(1, 0, list, 1), 2u);
    EXPECT_EQ(windows(0, self + 1, list, 4), 0u);
}

TEST(HostProcess, WithoutTheCallbackLibraryTheAddinCannotOpen) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // A process that has loaded the callback library keeps it: this runs in a fresh one.
    EXPECT_EXIT(
        {
            host::StandInHost h({.noXlcall32 = true});
            try {
                h.load(fakeAddin);
            } catch (const std::runtime_error&) {
            }
            const bool ok = ::dlopen("XLCALL32.DLL", RTLD_NOW | RTLD_NOLOAD) == nullptr && h.loaded() &&
                            h.autoOpenResult() == 0 && h.registrations().empty();
            std::fprintf(stderr, "open %d, %zu registered\n", h.autoOpenResult(), h.registrations().size());
            std::_Exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "open 0, 0 registered");
}

}  // namespace
