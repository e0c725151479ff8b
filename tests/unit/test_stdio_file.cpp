// Files the daemon writes as root where others may reach: with the mode asked
// for, and only into a regular file of its own with one name, never a link.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "stdio_file.h"

namespace fs = std::filesystem;

namespace {

class CreateRegularFile : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "tarn-file-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        oldMask_ = umask(022);
    }
    void TearDown() override {
        umask(oldMask_);
        fs::remove_all(dir_);
    }
    std::string at(const char *name) const { return (dir_ / name).string(); }
    // The file's mode and content.
    static std::tuple<mode_t, std::string> state(const std::string &path) {
        struct stat st {};
        EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
        return {st.st_mode & 07777, (std::ostringstream() << std::ifstream(path).rdbuf()).str()};
    }
    static bool write(const std::string &path, mode_t mode, const char *text) {
        File file = createRegularFile(path.c_str(), mode);
        if (!file)
            return false;
        std::fputs(text, file.get());
        EXPECT_NE(fcntl(fileno(file.get()), F_GETFD) & FD_CLOEXEC, 0);
        return true;
    }
    fs::path dir_;
    mode_t oldMask_ = 0;
};

TEST_F(CreateRegularFile, NewAndExistingFilesGetTheModeAndLoseOldContent) {
    ASSERT_TRUE(write(at("new"), 0600, "fresh"));
    EXPECT_EQ(state(at("new")), std::tuple(0600u, "fresh"));

    std::ofstream(at("old")) << "an older and longer text";
    ASSERT_EQ(chmod(at("old").c_str(), 0644), 0);
    ASSERT_TRUE(write(at("old"), 0600, "short"));
    EXPECT_EQ(state(at("old")), std::tuple(0600u, "short"));
}

TEST_F(CreateRegularFile, RefusesLinksFifosAndFolders) {
    std::ofstream(at("target")) << "kept";
    fs::create_symlink(at("target"), at("link"));
    fs::create_symlink(at("missing"), at("dangling"));
    ASSERT_EQ(mkfifo(at("fifo").c_str(), 0600), 0);  // no reader: opening must not wait
    fs::create_directory(at("folder"));
    for (const char *name : {"link", "dangling", "fifo", "folder"})
        EXPECT_FALSE(write(at(name), 0600, "written")) << name;
    EXPECT_EQ(state(at("target")), std::tuple(0644u, "kept"));
    EXPECT_FALSE(fs::exists(at("missing")));
}

// Someone else's file stays theirs whatever mode it is given, and a hard
// link shares its content with another name: neither may receive a capture.
TEST_F(CreateRegularFile, RefusesOtherUsersFilesAndHardLinks) {
    constexpr uid_t kNobody = 65534;
    std::ofstream(at("planted")) << "kept";
    ASSERT_EQ(chmod(at("planted").c_str(), 0666), 0);
    ASSERT_EQ(chown(at("planted").c_str(), kNobody, kNobody), 0) << "the tests run as root";
    std::ofstream(at("secret")) << "kept";
    ASSERT_EQ(chmod(at("secret").c_str(), 0644), 0);
    fs::create_hard_link(at("secret"), at("hardlink"));

    for (const char *name : {"planted", "hardlink"})
        EXPECT_FALSE(write(at(name), 0600, "written")) << name;
    EXPECT_EQ(state(at("planted")), std::tuple(0666u, "kept"));
    EXPECT_EQ(state(at("secret")), std::tuple(0644u, "kept"));

    // Once the other name is gone the file is ours alone again.
    fs::remove(at("hardlink"));
    EXPECT_TRUE(write(at("secret"), 0600, "written"));
    EXPECT_EQ(state(at("secret")), std::tuple(0600u, "written"));
}

}  // namespace
