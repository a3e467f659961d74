// The process log captured in a file of a temporary folder, for tests that check log
// lines. A test program opens it once for all its tests:
//   const auto* env = testing::AddGlobalTestEnvironment(new TestLogEnvironment("mux"));
//
// Threads: the log may be written by any thread; the helpers read it from the test's.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

// Opens the log in a fresh temporary folder before the first test, closes it and removes
// the folder after the last.
class TestLogEnvironment : public testing::Environment {
public:
    explicit TestLogEnvironment(std::string name) : name(std::move(name)) {}
    void SetUp() override;
    void TearDown() override;

private:
    std::string name; // part of the folder name, telling which test program wrote it
};

// Where the log file ends now: a mark for logSince.
std::size_t logMark();
// Everything logged after `mark`.
std::string logSince(std::size_t mark);
// True when `texts` appear in the log after `mark` in this order.
bool logHasInOrder(std::size_t mark, const std::vector<std::string>& texts);
// How often `text` appears in the log after `mark`.
int logCount(std::size_t mark, const std::string& text);
