// The folder that fleet backups go to, and its git history when the folder
// lies in a git work tree (libgit2): each run is one commit of the files it
// wrote, and a restore can read a file as it was at any commit.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// libgit2's handle, declared as the library does.
typedef struct git_repository git_repository;  // NOLINT(modernize-use-using)

namespace tarn {

class BackupRepo {
public:
    // Throws UsageError when `dir` is not a folder, or is a git work tree
    // that cannot be opened.
    explicit BackupRepo(std::filesystem::path dir);

    const std::filesystem::path &dir() const { return dir_; }
    bool isGit() const { return repo_ != nullptr; }

    // The file's current content in the folder; nothing when it is absent.
    std::optional<std::string> read(const std::string &name) const;
    // The file's content at `revision` (a commit id, a tag, HEAD~2, ...).
    std::string readAt(const std::string &name, const std::string &revision) const;
    // Writes a file under a temporary name and renames it when complete.
    void write(const std::string &name, const std::string &content) const;
    // Commits exactly these files of the folder; the new commit's short id.
    std::string commit(const std::vector<std::string> &names, const std::string &message);

private:
    std::string inRepo(const std::string &name) const;  // the path from the work tree's top

    // libgit2 is set up for as long as the repository is open: declared
    // first, it is shut down last.
    struct Library {
        Library();
        ~Library();
        Library(const Library &) = delete;
        Library &operator=(const Library &) = delete;
    };
    struct RepoFree {
        void operator()(git_repository *repo) const;
    };

    Library library_;
    std::filesystem::path dir_;
    std::filesystem::path prefix_;  // dir_ relative to the work tree's top
    std::unique_ptr<git_repository, RepoFree> repo_;
};

}  // namespace tarn
