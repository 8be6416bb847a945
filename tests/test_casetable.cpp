// Case tables of quarel-batch: a failed case reported in its row while the
// others go on, shards that merge into the serial table byte for byte, and
// tables refused before any case runs.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "CaseTable.h"
#include "message.h"
#include "quarel_job.h"

using quarel::testjob::Job;
using quarel::testjob::readFile;
using quarel::testjob::runBatch;
using quarel::testjob::ScratchDir;
using quarel::testjob::writeJob;

namespace {

void write(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

}  // namespace

TEST(CaseTable, ShardsMergeIntoTheSerialTableAndFailuresStayInTheirRows) {
    ScratchDir dir;
    Job j;
    j.NPA = 12;
    j.NCO = 4;
    j.NBH = 3;
    j.Kgrid = 2;
    j.maxResidual = 1e-8;
    writeJob("s.dat", j);
    j.camber = 0.02;
    writeJob("c.dat", j);
    // Rows 3 (Mach out of range) and 4 (no such file) fail; row 6 is
    // viscous; the others run.
    write("cases.csv",
          "section,mach,alpha,sweep,re\n"
          "s.dat,0.5,1,,\n"
          "c.dat,0.6,0,,\n"
          "s.dat,1.2,0,,\n"
          "\n"
          "none.dat,0.5,0,,\n"
          "\"c.dat\",0.5,-1,10,\n"
          "s.dat,0.5,0,,3e6\n"
          "c.dat,0.55,2,,\n");
    const auto serial = runBatch("--cases cases.csv --quiet");
    EXPECT_EQ(serial.code, quarel::kCaseNotConverged) << serial.err;
    const std::string table = readFile("cases_results.csv");
    std::istringstream lines(table);
    std::string line;
    std::vector<std::string> rows;
    while (std::getline(lines, line)) rows.push_back(line);
    ASSERT_EQ(rows.size(), 8u) << table;
    EXPECT_EQ(rows[0],
              "section,mach,alpha,sweep,re,CL,CD,CDw,CDp,CDf,CM,converged,exit_code,message");
    for (int r : {1, 2, 5, 7}) EXPECT_NE(rows[r].find(",yes,0,\"\""), std::string::npos) << rows[r];
    EXPECT_NE(rows[3].find("s.dat,1.2,0,,,,,,,,,no,1,\"mach"), std::string::npos) << rows[3];
    EXPECT_NE(rows[4].find(",no,2,\"The section file"), std::string::npos) << rows[4];
    // The viscous row carries a friction drag, converged or not (on this
    // small grid the coupling says it is not, and the row says so).
    std::vector<std::string> fields;
    std::istringstream viscous(rows[6]);
    for (std::string f; fields.size() < 10 && std::getline(viscous, f, ',');) fields.push_back(f);
    ASSERT_EQ(fields.size(), 10u) << rows[6];
    EXPECT_GT(std::atof(fields[9].c_str()), 0.0) << rows[6];
    EXPECT_TRUE(rows[6].find(",yes,0,") != std::string::npos ||
                rows[6].find(",no,5,\"the solution is not converged.") != std::string::npos)
        << rows[6];
    // The merge refuses an incomplete set, then joins the complete one.
    for (int k : {1, 2}) {
        const auto shard =
            runBatch("--cases cases.csv --quiet --shard " + std::to_string(k) + "/3");
        EXPECT_NE(shard.code, 1) << shard.err;
    }
    const auto incomplete = runBatch("--merge cases.csv");
    EXPECT_EQ(incomplete.code, quarel::kCaseFile);
    EXPECT_NE(incomplete.err.find("cases_results_3_of_3.csv\" is missing"), std::string::npos)
        << incomplete.err;
    runBatch("--cases cases.csv --quiet --shard 3/3");
    std::remove("cases_results.csv");
    const auto merged = runBatch("--merge cases.csv");
    EXPECT_EQ(merged.code, 0) << merged.err;
    EXPECT_EQ(readFile("cases_results.csv"), table);
}

TEST(CaseTable, RefusesMalformedTablesNamingTheLine) {
    ScratchDir dir;
    quarel::msg::setQuiet(true);
    const struct {
        const char* text;
        const char* says;
    } bad[] = {
        {"section,mach\ns.dat,0.5\n", "line 1: the header has no column \"alpha\""},
        {"section,mach,alpha,reynolds\n", "line 1: unknown column \"reynolds\""},
        {"section,mach,alpha\ns.dat,0.5\n", "line 2: 2 fields, but the header names 3"},
        {"section,mach,alpha\n\"s.dat,0.5,1\n", "line 2: a quoted field is not closed"},
        {"", "there is no header row"},
    };
    for (const auto& b : bad) {
        write("t.csv", b.text);
        try {
            quarel::ReadCaseTable("t.csv");
            ADD_FAILURE() << b.text;
        } catch (const quarel::FileError& e) {
            EXPECT_NE(std::string(e.what()).find(b.says), std::string::npos) << e.what();
        }
    }
    const auto usage = runBatch("--cases t.csv --shard 4/3");
    EXPECT_EQ(usage.code, quarel::kCaseUsage);
    quarel::msg::setQuiet(false);
}

// A column cl runs that row at a fixed lift; the table then names the alpha
// each row ran at (alpha_cl), the one found where cl is given.
TEST(CaseTable, FixedLiftRowsGiveTheAlphaFound) {
    ScratchDir dir;
    Job j;
    j.NPA = 12;
    j.NCO = 4;
    j.NBH = 3;
    j.Kgrid = 2;
    j.maxResidual = 1e-8;
    writeJob("s.dat", j);
    write("cases.csv", "section,mach,alpha,cl\ns.dat,0.5,0,0.2\ns.dat,0.5,1,\n");
    const auto run = runBatch("--cases cases.csv --quiet");
    EXPECT_EQ(run.code, 0) << run.err;
    std::istringstream lines(readFile("cases_results.csv"));
    std::vector<std::vector<std::string>> rows;
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> fields;
        std::istringstream in(line);
        for (std::string f; std::getline(in, f, ',');) fields.push_back(f);
        rows.push_back(fields);
    }
    ASSERT_EQ(rows.size(), 3u);
    ASSERT_GE(rows[1].size(), 6u);
    EXPECT_EQ(rows[0][4], "alpha_cl");
    EXPECT_NEAR(std::atof(rows[1][5].c_str()), 0.2, 1e-5);
    EXPECT_GT(std::atof(rows[1][4].c_str()), 0.5);
    EXPECT_EQ(rows[2][4], "1");
}
