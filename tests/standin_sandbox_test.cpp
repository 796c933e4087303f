// Windows paths map into the sandbox and never out of it: ".." is resolved
// as Windows resolves it and stops at the root, so that a test (or a fuzz
// run) that deletes what a path names cannot reach the host's own files.
#include <gtest/gtest.h>
#include <standin.h>

#include <optional>
#include <string>

namespace {

struct Mapping {
  const char* windowsPath;
  std::optional<std::string> host;  // below the sandbox folder
};

TEST(StandinSandboxTest, PathsStayInsideTheSandbox) {
  standin::Reset();
  standin::SetSandbox("/sandbox");
  const Mapping mappings[] = {
      {"C:\\Quorvel\\SDK", "/C/Quorvel/SDK"},
      {"c:\\Quorvel\\SDK\\", "/C/Quorvel/SDK/"},
      {"C:\\", "/C/"},
      {"D:name", "/D/name"},
      {"C:\\a\\.\\b\\..\\c", "/C/a/c"},
      {"C:\\..\\..\\etc\\passwd", "/C/etc/passwd"},
      {"C:/a/../../../../x/", "/C/x/"},
      {"\\\\server\\share\\..\\..\\..\\..\\x", "/UNC/x"},
      {"\\\\?\\C:\\a\\b", "/C/a/b"},
      {"\\\\?\\C:\\..\\..\\etc", std::nullopt},  // verbatim: ".." is a name, which nothing has
      {"\\\\?\\UNC\\server\\share\\.", std::nullopt},
      {"\\..\\..\\x", "/C/x"},
      {"..\\..\\..\\..\\..\\x", "/C/x"},  // relative to C:\Windows\system32
      {"system32\\..", "/C/Windows/system32"},
      {"", std::nullopt},
  };
  for (const Mapping& mapping : mappings) {
    SCOPED_TRACE(mapping.windowsPath);
    const std::optional<std::string> host = standin::HostPath(std::string(mapping.windowsPath));
    ASSERT_EQ(host.has_value(), mapping.host.has_value());
    if (host) {
      EXPECT_EQ(*host, "/sandbox" + *mapping.host);
    }
  }
}

}  // namespace
