#include "backup_repo.h"

#include <cerrno>
#include <cstring>

#include <git2.h>

#include "atomic_file.h"
#include "errors.h"
#include "serving.h"

namespace tarn {

namespace {

std::string gitError(const std::string &what) {
    const git_error *e = git_error_last();
    return what + ": " + (e != nullptr && e->message != nullptr ? e->message : "unknown error") +
           ".";
}

// Owns one libgit2 object of any kind.
template <typename T, void (*Free)(T *)>
struct Owned {
    T *p = nullptr;
    ~Owned() {
        if (p != nullptr)
            Free(p);
    }
};

}  // namespace

BackupRepo::Library::Library() {
    git_libgit2_init();
}

BackupRepo::Library::~Library() {
    git_libgit2_shutdown();
}

void BackupRepo::RepoFree::operator()(git_repository *repo) const {
    git_repository_free(repo);
}

BackupRepo::BackupRepo(std::filesystem::path dir) : dir_(std::move(dir)) {
    std::error_code ec;
    if (!std::filesystem::is_directory(dir_, ec))
        throw UsageError(dir_.string() + " is not a folder.");
    git_buf top = GIT_BUF_INIT;
    // A folder outside any work tree is a plain folder of backups.
    if (git_repository_discover(&top, dir_.c_str(), 0, nullptr) != 0)
        return;
    git_repository *opened = nullptr;
    const int rc = git_repository_open(&opened, top.ptr);
    git_buf_dispose(&top);
    repo_.reset(opened);
    if (rc != 0)
        throw UsageError(gitError("cannot open the git repository of " + dir_.string()));
    const char *workdir = git_repository_workdir(repo_.get());
    if (workdir == nullptr) {
        repo_.reset();
        return;
    }
    const std::filesystem::path here = std::filesystem::canonical(dir_, ec);
    const std::filesystem::path topDir = ec ? here : std::filesystem::canonical(workdir, ec);
    if (ec)
        throw UsageError("cannot resolve the path of " + dir_.string() +
                         " in its git work tree: " + ec.message() + ".");
    prefix_ = here.lexically_relative(topDir);
}

std::string BackupRepo::inRepo(const std::string &name) const {
    return (prefix_ / name).lexically_normal().generic_string();
}

std::optional<std::string> BackupRepo::read(const std::string &name) const {
    return readWholeFile(dir_ / name, ServeConfig{}.maxFileSize);
}

std::string BackupRepo::readAt(const std::string &name, const std::string &revision) const {
    if (!repo_)
        throw UsageError(dir_.string() + " is not in a git work tree, so it has no commit " +
                         revision + ".");
    Owned<git_object, git_object_free> commit, blob;
    if (git_revparse_single(&commit.p, repo_.get(), revision.c_str()) != 0)
        throw UsageError(gitError("no commit " + revision + " in " + dir_.string()));
    const std::string fileAtRevision = revision + ":" + inRepo(name);
    if (git_revparse_single(&blob.p, repo_.get(), fileAtRevision.c_str()) != 0 ||
        git_object_type(blob.p) != GIT_OBJECT_BLOB)
        throw UsageError("commit " + revision + " holds no " + inRepo(name) + ".");
    const auto *b = reinterpret_cast<const git_blob *>(blob.p);
    return std::string(static_cast<const char *>(git_blob_rawcontent(b)),
                       static_cast<size_t>(git_blob_rawsize(b)));
}

void BackupRepo::write(const std::string &name, const std::string &content) const {
    const std::filesystem::path target = dir_ / name;
    const ReplaceResult r = replaceFile(target, content, 0600);
    if (r.error == 0)
        return;
    if (!r.created)
        throw UsageError("cannot create a file in " + dir_.string() + ": " +
                         std::strerror(r.error) + ".");
    throw RefusedError("cannot write " + target.string() + ": " + std::strerror(r.error) +
                       (r.error == ENOSPC ? " (the disk is full)" : "") + "; nothing was kept.");
}

std::string BackupRepo::commit(const std::vector<std::string> &names, const std::string &message) {
    git_repository *repo = repo_.get();
    Owned<git_reference, git_reference_free> head;
    Owned<git_commit, git_commit_free> parent;
    Owned<git_tree, git_tree_free> parentTree, tree;
    Owned<git_index, git_index_free> index, staged;
    Owned<git_signature, git_signature_free> author;
    git_oid treeId, commitId;
    // An empty repository has no HEAD commit yet: the first run is the root.
    const int rc = git_repository_head(&head.p, repo);
    const bool born = rc == 0;
    if (!born && rc != GIT_EUNBORNBRANCH && rc != GIT_ENOTFOUND)
        throw RefusedError(gitError("cannot read HEAD"));
    if (born && (git_commit_lookup(&parent.p, repo, git_reference_target(head.p)) != 0 ||
                 git_commit_tree(&parentTree.p, parent.p) != 0))
        throw RefusedError(gitError("cannot read the HEAD commit"));
    // The commit is HEAD's tree with these files alone changed, built in an
    // index of its own: whatever else the user has staged stays staged and
    // out of this commit.
    if (git_index_new(&index.p) != 0 || (born && git_index_read_tree(index.p, parentTree.p) != 0))
        throw RefusedError(gitError("cannot read the HEAD tree"));
    for (const std::string &name : names) {
        const std::string path = inRepo(name);
        git_index_entry entry{};
        entry.path = path.c_str();
        entry.mode = GIT_FILEMODE_BLOB;
        if (git_blob_create_from_workdir(&entry.id, repo, path.c_str()) != 0 ||
            git_index_add(index.p, &entry) != 0)
            throw RefusedError(gitError("cannot stage " + name));
    }
    if (git_index_write_tree_to(&treeId, index.p, repo) != 0 ||
        git_tree_lookup(&tree.p, repo, &treeId) != 0)
        throw RefusedError(gitError("cannot write the git tree"));
    // The committer configured for the repository, else tarn itself.
    if (git_signature_default(&author.p, repo) != 0 &&
        git_signature_now(&author.p, "tarn", "tarn@localhost") != 0)
        throw RefusedError(gitError("cannot sign the commit"));
    const git_commit *parents[] = {parent.p};
    if (git_commit_create(&commitId, repo, "HEAD", author.p, author.p, nullptr, message.c_str(),
                          tree.p, born ? 1 : 0, parents) != 0)
        throw RefusedError(gitError("cannot commit the backups"));
    char id[8] = {};
    git_oid_tostr(id, sizeof id, &commitId);
    // The repository's index takes the committed files too, so that they
    // do not show as changed against the new commit.
    bool indexed = git_repository_index(&staged.p, repo) == 0;
    for (const std::string &name : names)
        indexed = indexed && git_index_add_bypath(staged.p, inRepo(name).c_str()) == 0;
    if (!indexed || git_index_write(staged.p) != 0)
        throw RefusedError(gitError(std::string("committed the backups as ") + id +
                                    ", but cannot update the git index"));
    return id;
}

}  // namespace tarn
