// Helpers of the log tests: a temporary folder and a capture of standard error.
//
// Threads: used by the test's own thread; the capture redirects the process's fd 2, so
// output of every thread lands in it while it exists.
#pragma once

#include <string>

// A fresh folder under the system's temporary folder, removed with its contents.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& path() const { return folder; }
    std::string file(const std::string& name) const { return folder + "/" + name; }

private:
    std::string folder;
};

// Redirects standard error (fd 2) into a file until destroyed or finished.
class StderrCapture {
public:
    explicit StderrCapture(const std::string& path);
    ~StderrCapture();
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;

    // Puts standard error back and returns everything written meanwhile.
    std::string finish();

private:
    std::string capturePath;
    int savedFd = -1;
};

// The whole content of a file, line ends read as "\n" on every platform; empty when it
// cannot be read.
std::string readWholeFile(const std::string& path);

// The whole content of a file byte for byte, line ends as written; empty when it cannot
// be read.
std::string readRawFile(const std::string& path);

// The single file in `folder`; empty when there is none or more than one.
std::string onlyFileIn(const std::string& folder);
