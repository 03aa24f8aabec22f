// Opening files through the name check and the registry, and the fatal stop.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "model/settings.h"
#include "output/fatal.h"
#include "output/registered_file.h"
#include "support/test_support.h"

using testing_support::run_forked;

namespace {

class RegisteredFile : public ::testing::Test {
 protected:
  void SetUp() override { testing_support::reset_globals(); }
  std::string path(const std::string& name) { return (dir / name).string(); }
  std::string registry() const { return __outfilenames.data(); }
  testing_support::TempDir dir;
};

TEST_F(RegisteredFile, RegistersEachOpenInOrder) {
  testing_support::write_file(dir / "run.par", "1 # l\n");
  std::fclose(open_registered_file(path("run.par").c_str(), "r"));
  std::fclose(open_registered_file(path("mdotin_x.dat").c_str(), "w+"));
  EXPECT_EQ(registry(), path("run.par") + " (r);\n" + path("mdotin_x.dat") + " (w+);\n");
  EXPECT_EQ(std::string(__filename.data()), path("mdotin_x.dat"));
}

// 5989 characters held: a 4-character name adds 4 + 5 + the mode's length.
TEST_F(RegisteredFile, RegistryDropsAnEntryThatDoesNotFitButKeepsLaterShorterOnes) {
  std::memset(__outfilenames.data(), 'q', 5989);
  __outfilenames[5989] = '\0';
  ASSERT_EQ(::chdir(dir.path().c_str()), 0);
  testing_support::write_file(dir / "f.ab", "");
  std::fclose(open_registered_file("f.ab", "w+"));  // 5989 + 11 > 5999: dropped
  EXPECT_EQ(registry().size(), 5989u);
  std::fclose(open_registered_file("f.ab", "r"));  // 5989 + 10 = 5999: fits
  EXPECT_EQ(registry().size(), 5999u);
  EXPECT_EQ(registry().substr(5989), "f.ab (r);\n");
  std::fclose(open_registered_file("f.ab", "r"));  // full now: dropped silently
  EXPECT_EQ(registry().size(), 5999u);
}

TEST_F(RegisteredFile, NameOf599CharactersOpensAndOf600IsRefused) {
  ASSERT_EQ(::chdir(dir.path().c_str()), 0);
  // A relative name made of directories, since one path component is limited to 255 bytes.
  std::string name;
  while (name.size() + 200 < 599) name += std::string(199, 'd') + "/";
  std::filesystem::create_directories(dir / name);
  name += std::string(599 - name.size(), 'n');
  ASSERT_EQ(name.size(), 599u);
  FILE* f = open_registered_file(name.c_str(), "w+");
  ASSERT_NE(f, nullptr);
  std::fclose(f);

  const std::string longer = name + "x";
  const auto r = run_forked([&longer] { open_registered_file(longer.c_str(), "w+"); });
  EXPECT_EQ(r.status, 100);
  EXPECT_EQ(r.output, "File name is too long: " + longer + "\n\n\a! Error #100: " +
                          "file name too long or file cannot be opened  => STOP !\n");
}

TEST_F(RegisteredFile, MissingFileIsAFatalStopWithCodeHundred) {
  const std::string missing = path("absent.par");
  const auto r = run_forked([&missing] { open_registered_file(missing.c_str(), "r"); });
  EXPECT_EQ(r.status, 100);
  EXPECT_EQ(r.output.rfind(" Cannot open file " + missing + ": No such file or directory\n\n\a! Error #100: ", 0), 0u) << r.output;
}

TEST(FatalStop, PrintsTheNumberedLineAndExitsWithTheCode) {
  const auto r = run_forked([] { err_m(1); });
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, "\n\a! Error #1: memory allocation failed  => STOP !\n");
}

}  // namespace
