// The commands end to end on a fake add-in: whole outputs, messages and exit statuses.
#include "cli/app.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "fake_functions.hpp"

namespace {

namespace fs = std::filesystem;

class Commands : public ::testing::Test {
   protected:
    fs::path folder;
    std::string out, err;

    void SetUp() override {
        folder = fs::temp_directory_path() / ("tavirune_app_test_" + std::to_string(::getpid()) + "_" +
                                              ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(folder);
        write("Tavirune.xll", "stand-in");
    }
    void TearDown() override { fs::remove_all(folder); }

    std::string path(const std::string& name) const { return (folder / name).string(); }
    void write(const std::string& name, const std::string& text) const {
        std::ofstream(path(name), std::ios::binary) << text;
    }

    int run(std::vector<std::string> arguments) {
        cli::Environment environment;
        environment.defaultAddin = path("Tavirune.xll");
        environment.loadAddin = [](const std::string& file) -> std::unique_ptr<cli::FunctionTable> {
            std::ifstream in(file);
            std::string content;
            std::getline(in, content);
            if (content != "stand-in") throw std::runtime_error("not an add-in");
            return std::make_unique<cli::testing::FakeFunctions>();
        };
        std::ostringstream o, e;
        const int status = cli::runCommand(arguments, o, e, environment);
        out = o.str();
        err = e.str();
        return status;
    }
};

TEST_F(Commands, EvalPrintsEachResultTable) {
    write("data.csv", "score,flag\n1.5,1\n2.5,0\n-10,1\n");
    ASSERT_EQ(run({"eval", "--sheet", path("data.csv"), "=echo(A1:B3)", "=total(data!A:A)"}), 0) << err;
    EXPECT_EQ(out,
              "=echo(A1:B3)\n"
              "score  flag\n"
              "  1.5     1\n"
              "  2.5     0\n"
              "\n"
              "=total(data!A:A)\n"
              "-6\n");
    EXPECT_EQ(err, "");
    ASSERT_EQ(run({"eval", "--sheet", "d=" + path("data.csv"), "--format", "csv", "=echo(d!A1:B2)"}), 0) << err;
    EXPECT_EQ(out, "score,flag\n1.5,1\n");
    ASSERT_EQ(run({"eval", "--format", "json", "--sheet", path("data.csv"), "=echo(A1:B2)", "=fill(1,2,#N/A)"}), 0)
        << err;
    const std::string expected = R"json([
  {
    "cells": [
      [
        "score",
        "flag"
      ],
      [
        1.5,
        1.0
      ]
    ],
    "columns": 2,
    "formula": "=echo(A1:B2)",
    "rows": 2
  },
  {
    "cells": [
      [
        {
          "error": "#N/A"
        },
        {
          "error": "#N/A"
        }
      ]
    ],
    "columns": 2,
    "formula": "=fill(1,2,#N/A)",
    "rows": 1
  }
]
)json";
    EXPECT_EQ(out, expected);
}

TEST_F(Commands, CalcWritesTheComputedSheet) {
    write("book.csv", "x,y,result\n1,2,\"=total(A2:B3)\"\n3,4,\"=fill(2,2,\"\"ok\"\")\"\n");
    ASSERT_EQ(run({"calc", path("book.csv")}), 0) << err;
    EXPECT_EQ(out, "x,y,result,\n1,2,10,\n3,4,ok,ok\n,,ok,ok\n");
    ASSERT_EQ(run({"calc", path("book.csv"), "-o", path("out.csv"), "--threads", "3"}), 0) << err;
    EXPECT_EQ(out, "");
    std::ifstream in(path("out.csv"));
    std::stringstream written;
    written << in.rdbuf();
    EXPECT_EQ(written.str(), "x,y,result,\n1,2,10,\n3,4,ok,ok\n,,ok,ok\n");
    ASSERT_EQ(run({"calc", "--format", "table", path("book.csv")}), 0) << err;
    EXPECT_EQ(out, "x  y  result\n1  2      10\n3  4  ok      ok\n      ok      ok\n");
}

TEST_F(Commands, BadInputGivesStatusTwoAndNoOutput) {
    write("data.csv", "1,2\n3,4\n");
    write("broken.csv", "a,b\n1,\"open\n");
    write("book.csv", "1,\"=total(A1:A2\"\n");
    const std::string data = path("data.csv");
    struct Case {
        int line;
        std::vector<std::string> arguments;
        std::string message;
    };
    const Case cases[] = {
        {__LINE__,
         {"eval", "--sheet", path("broken.csv"), "=total(A1)"},
         "tavirune: " + path("broken.csv") + ": row 2, column 2 (cell B2): a quoted field has no closing quote\n"},
        {__LINE__,
         {"eval", "--sheet", data, "=total(A1:)"},
         "tavirune: formula =total(A1:) at position 8: bad reference \"A1:\": expected a cell such as A1\n"},
        {__LINE__,
         {"eval", "--sheet", data, "=failing(1)"},
         "tavirune: formula =failing(1): the add-in call failed: the entry point crashed\n"},
        {__LINE__,
         {"calc", path("book.csv")},
         "tavirune: " + path("book.csv") +
             ": cell B1: formula =total(A1:A2 at position 13: the formula ends before its closing \")\"\n"},
        {__LINE__, {"--addin", data, "functions"}, "tavirune: cannot load the add-in " + data + ": not an add-in\n"},
        {__LINE__,
         {"functions", "nosuch"},
         "tavirune: unknown function \"nosuch\"; tavirune functions lists them all\n"},
        {__LINE__,
         {"eval", "--sheet", data, "--sheet", data, "=total(A1)"},
         "tavirune: " + data + ": a sheet named \"data\" is already given; name it with NAME=" + data + "\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(run(c.arguments), 2) << "line " << c.line;
        EXPECT_EQ(out, "") << "line " << c.line;
        EXPECT_EQ(err, c.message) << "line " << c.line;
    }
    // Usage errors too.
    EXPECT_EQ(run({"eval", "=total(A1)"}), 2);
    EXPECT_EQ(out, "");
    EXPECT_NE(err.find("--sheet is required"), std::string::npos) << err;
    EXPECT_EQ(run({"calc", path("book.csv"), "--threads", "0"}), 2);
    EXPECT_EQ(run({}), 2);
    EXPECT_EQ(run({"--help"}), 0);
    EXPECT_NE(out.find("functions"), std::string::npos);
}

}  // namespace
