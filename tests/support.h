// Shared set-up for host tests: a fresh stand-in machine, the library
// "loaded", and helpers that read back what the product wrote.
#pragma once

#include <gtest/gtest.h>
#include <standin.h>

#include <string>
#include <vector>

#include "runtime/wcautil.h"

class HostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    standin::Reset();
    ModuleNotify(standin::DllModule(), DLL_PROCESS_ATTACH);
  }

  void TearDown() override {
    EXPECT_EQ(standin::OpenInstallerHandles(), 0) << "an Installer handle was left open";
    EXPECT_EQ(standin::OpenRegistryKeys(), 0) << "a registry key was left open";
    EXPECT_EQ(standin::LiveHeapBlocks(), 0) << "a heap block was left allocated";
    EXPECT_EQ(standin::OpenKernelHandles(), 0) << "a process, thread, file or listing handle was left open";
    // A child left running by a time-out must not outlive the test.
    standin::EndStartedProcesses();
  }

  // Makes verbose lines appear (or not) through the published atoms.
  static void PublishVerbosity(bool verbose) {
    standin::AddAtom(verbose ? L"WcaVerboseLogging" : L"WcaNotVerboseLogging");
  }

  static std::vector<std::string> Lines() { return standin::LogLines(); }
};

// The entry line for the stand-in's default module at a given version.
inline std::string EntryLine(const std::string& label, const std::string& version) {
  return label + ":  Entering " + label + " in C:\\Windows\\Installer\\MSI1A2B.tmp, version " + version;
}
