// The fleet's history: a git repository (libgit2) with one folder per unit.
//
// A commit replaces one unit's folder. Its blobs and trees are written
// first, then the commit, and only then is the branch moved, and only if it
// still points where it did (libgit2 writes the reference beside it and
// renames it into place), so a run stopped at any moment leaves the branch
// at a whole commit. The working tree and the index follow the branch
// after each commit, for people who look at the folder; the history itself
// is the branch.
#pragma once

#include <map>
#include <string>
#include <vector>

struct git_repository;

namespace kv {

class TRepository {
public:
    TRepository();
    ~TRepository();
    TRepository(const TRepository&) = delete;
    TRepository& operator=(const TRepository&) = delete;

    // Opens the repository at `path`; when `create`, makes it (and its
    // folder) if there is none, with its branch "main".
    bool Open(const std::string& path, bool create, std::string& error);

    // Its working folder and its .git folder.
    const std::string& Folder() const { return folder_; }
    const std::string& GitFolder() const { return gitFolder_; }

    // The commit the branch points to ("" while it has none).
    std::string Head() const;
    // The full id of a revision ("HEAD~2", a full or shortened id); false
    // with `error` when it names no commit.
    bool Resolve(const std::string& revision, std::string& commit, std::string& error) const;

    // The files under `folder` in `commit` ("" for the head), by their path
    // inside the folder. False when the folder is not there.
    bool ReadFolder(const std::string& commit, const std::string& folder, std::map<std::string, std::string>& files) const;

    // One commit that makes `folder` hold exactly `files` (paths inside it
    // with their contents), with `message`; `id` is the new commit. False
    // with `error` when it could not be written or the branch moved
    // meanwhile; the branch is then as it was.
    bool Commit(const std::string& folder, const std::map<std::string, std::string>& files, const std::string& message,
                std::string& id, std::string& error);

    struct TVersion {
        std::string id;
        std::string shortId;
        // "2026-03-07 09:05:30 +0300"
        std::string when;
        std::string message;
    };
    // The commits that changed `folder`, newest first.
    bool History(const std::string& folder, std::vector<TVersion>& versions, std::string& error) const;

private:
    bool checkout(std::string& error);

    git_repository* repo_ = nullptr;
    std::string folder_;
    std::string gitFolder_;
};

}  // namespace kv
