#include "fleet/Repository.h"

#include <git2.h>
#include <time.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>

namespace kv {

namespace {

namespace fs = std::filesystem;

// libgit2 is set up once for the process and stays so.
void initialise()
{
    static const int once = git_libgit2_init();
    (void)once;
}

std::string lastError(const std::string& what)
{
    const git_error* e = git_error_last();
    return what + ": " + (e && e->message ? e->message : "ошибка git");
}

template <class T, void (*Free)(T*)>
struct TFree {
    void operator()(T* p) const { Free(p); }
};
template <class T, void (*Free)(T*)>
using TOwned = std::unique_ptr<T, TFree<T, Free>>;

using TObject = TOwned<git_object, git_object_free>;
using TTree = TOwned<git_tree, git_tree_free>;
using TCommitPtr = TOwned<git_commit, git_commit_free>;
using TBuilder = TOwned<git_treebuilder, git_treebuilder_free>;
using TReference = TOwned<git_reference, git_reference_free>;
using TSignature = TOwned<git_signature, git_signature_free>;
using TWalk = TOwned<git_revwalk, git_revwalk_free>;
using TEntry = TOwned<git_tree_entry, git_tree_entry_free>;

std::string idText(const git_oid& oid)
{
    char text[GIT_OID_HEXSZ + 1];
    git_oid_tostr(text, sizeof text, &oid);
    return text;
}

std::string timeText(const git_time& t)
{
    const time_t local = static_cast<time_t>(t.time) + static_cast<time_t>(t.offset) * 60;
    struct tm parts {};
    ::gmtime_r(&local, &parts);
    char text[64];
    const size_t n = ::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
    const int offset = t.offset < 0 ? -t.offset : t.offset;
    char zone[16];
    std::snprintf(zone, sizeof zone, " %c%02d%02d", t.offset < 0 ? '-' : '+', offset / 60, offset % 60);
    return std::string(text, n) + zone;
}

// A folder's tree from its files (paths inside it, '/' between folders).
struct TFolder {
    std::map<std::string, std::string> files;
    std::map<std::string, TFolder> folders;
};

bool writeTree(git_repository* repo, const TFolder& folder, git_oid& out, std::string& error)
{
    git_treebuilder* raw = nullptr;
    if (git_treebuilder_new(&raw, repo, nullptr) != 0) {
        error = lastError("дерево");
        return false;
    }
    TBuilder builder(raw);
    for (const auto& [name, content] : folder.files) {
        git_oid blob;
        if (git_blob_create_from_buffer(&blob, repo, content.data(), content.size()) != 0 ||
            git_treebuilder_insert(nullptr, builder.get(), name.c_str(), &blob, GIT_FILEMODE_BLOB) != 0) {
            error = lastError("файл " + name);
            return false;
        }
    }
    for (const auto& [name, sub] : folder.folders) {
        git_oid tree;
        if (!writeTree(repo, sub, tree, error))
            return false;
        if (git_treebuilder_insert(nullptr, builder.get(), name.c_str(), &tree, GIT_FILEMODE_TREE) != 0) {
            error = lastError("папка " + name);
            return false;
        }
    }
    if (git_treebuilder_write(&out, builder.get()) != 0) {
        error = lastError("дерево");
        return false;
    }
    return true;
}

// The oid of `folder` in the commit's tree; false when it is not there.
bool folderId(const git_commit* commit, const std::string& folder, git_oid& out)
{
    git_tree* raw = nullptr;
    if (git_commit_tree(&raw, commit) != 0)
        return false;
    TTree tree(raw);
    const git_tree_entry* e = git_tree_entry_byname(tree.get(), folder.c_str());
    if (!e || git_tree_entry_type(e) != GIT_OBJECT_TREE)
        return false;
    git_oid_cpy(&out, git_tree_entry_id(e));
    return true;
}

}  // namespace

TRepository::TRepository()
{
    initialise();
}

TRepository::~TRepository()
{
    git_repository_free(repo_);
}

bool TRepository::Open(const std::string& path, bool create, std::string& error)
{
    git_repository_free(repo_);
    repo_ = nullptr;
    int rc = git_repository_open_ext(&repo_, path.c_str(), GIT_REPOSITORY_OPEN_NO_SEARCH, nullptr);
    if (rc == GIT_ENOTFOUND && create) {
        git_repository_init_options options = GIT_REPOSITORY_INIT_OPTIONS_INIT;
        options.flags = GIT_REPOSITORY_INIT_MKPATH;
        options.initial_head = "main";
        options.description = "kvbackup fleet: the units' settings";
        rc = git_repository_init_ext(&repo_, path.c_str(), &options);
    }
    if (rc != 0) {
        error = rc == GIT_ENOTFOUND ? "нет git-репозитория " + path : lastError("репозиторий " + path);
        repo_ = nullptr;
        return false;
    }
    if (git_repository_is_bare(repo_)) {
        error = "репозиторий " + path + " без рабочей папки (bare) не подходит";
        return false;
    }
    folder_ = fs::path(git_repository_workdir(repo_)).lexically_normal().string();
    while (folder_.size() > 1 && folder_.back() == '/')
        folder_.pop_back();
    gitFolder_ = fs::path(git_repository_path(repo_)).lexically_normal().string();
    while (gitFolder_.size() > 1 && gitFolder_.back() == '/')
        gitFolder_.pop_back();
    return true;
}

std::string TRepository::Head() const
{
    git_oid oid;
    if (git_reference_name_to_id(&oid, repo_, "HEAD") != 0)
        return {};
    return idText(oid);
}

bool TRepository::Resolve(const std::string& revision, std::string& commit, std::string& error) const
{
    git_object* raw = nullptr;
    if (revision.empty() || git_revparse_single(&raw, repo_, revision.c_str()) != 0) {
        error = "нет версии \"" + revision + "\"";
        return false;
    }
    TObject object(raw);
    git_object* peeled = nullptr;
    if (git_object_peel(&peeled, object.get(), GIT_OBJECT_COMMIT) != 0) {
        error = "\"" + revision + "\" - не версия (не коммит)";
        return false;
    }
    commit = idText(*git_object_id(peeled));
    git_object_free(peeled);
    return true;
}

bool TRepository::ReadFolder(const std::string& commit, const std::string& folder,
                             std::map<std::string, std::string>& files) const
{
    files.clear();
    git_oid oid;
    if (commit.empty() ? git_reference_name_to_id(&oid, repo_, "HEAD") != 0 : git_oid_fromstr(&oid, commit.c_str()) != 0)
        return false;
    git_commit* rawCommit = nullptr;
    if (git_commit_lookup(&rawCommit, repo_, &oid) != 0)
        return false;
    TCommitPtr c(rawCommit);
    git_tree* rawTree = nullptr;
    if (git_commit_tree(&rawTree, c.get()) != 0)
        return false;
    TTree root(rawTree);
    git_tree_entry* rawEntry = nullptr;
    if (git_tree_entry_bypath(&rawEntry, root.get(), folder.c_str()) != 0)
        return false;
    TEntry entry(rawEntry);
    if (git_tree_entry_type(entry.get()) != GIT_OBJECT_TREE)
        return false;
    git_tree* rawSub = nullptr;
    if (git_tree_lookup(&rawSub, repo_, git_tree_entry_id(entry.get())) != 0)
        return false;
    TTree sub(rawSub);
    struct TWalkState {
        git_repository* repo;
        std::map<std::string, std::string>* files;
    } state{repo_, &files};
    auto visit = [](const char* at, const git_tree_entry* e, void* payload) -> int {
        auto* s = static_cast<TWalkState*>(payload);
        if (git_tree_entry_type(e) != GIT_OBJECT_BLOB)
            return 0;
        git_blob* blob = nullptr;
        if (git_blob_lookup(&blob, s->repo, git_tree_entry_id(e)) != 0)
            return -1;
        const auto* data = static_cast<const char*>(git_blob_rawcontent(blob));
        (*s->files)[std::string(at) + git_tree_entry_name(e)] =
            std::string(data, static_cast<size_t>(git_blob_rawsize(blob)));
        git_blob_free(blob);
        return 0;
    };
    return git_tree_walk(sub.get(), GIT_TREEWALK_PRE, visit, &state) == 0;
}

bool TRepository::Commit(const std::string& folder, const std::map<std::string, std::string>& files,
                         const std::string& message, std::string& id, std::string& error)
{
    // The unit's folder.
    TFolder top;
    for (const auto& [path, content] : files) {
        TFolder* at = &top;
        size_t start = 0;
        for (size_t slash; (slash = path.find('/', start)) != std::string::npos; start = slash + 1)
            at = &at->folders[path.substr(start, slash - start)];
        at->files[path.substr(start)] = content;
    }
    git_oid folderTree;
    if (!writeTree(repo_, top, folderTree, error))
        return false;

    // The whole tree: the head's with that folder replaced.
    git_reference* rawHead = nullptr;
    if (git_reference_lookup(&rawHead, repo_, "HEAD") != 0) {
        error = lastError("HEAD");
        return false;
    }
    TReference headRef(rawHead);
    const char* branch = git_reference_type(headRef.get()) == GIT_REFERENCE_SYMBOLIC
                             ? git_reference_symbolic_target(headRef.get())
                             : nullptr;
    if (!branch) {
        error = "HEAD репозитория не указывает на ветку";
        return false;
    }
    git_oid parentId;
    const bool hasParent = git_reference_name_to_id(&parentId, repo_, branch) == 0;
    TCommitPtr parent;
    TTree parentTree;
    if (hasParent) {
        git_commit* rawParent = nullptr;
        git_tree* rawTree = nullptr;
        if (git_commit_lookup(&rawParent, repo_, &parentId) != 0 || git_commit_tree(&rawTree, rawParent) != 0) {
            git_commit_free(rawParent);
            error = lastError("последняя версия");
            return false;
        }
        parent.reset(rawParent);
        parentTree.reset(rawTree);
    }
    git_treebuilder* rawBuilder = nullptr;
    if (git_treebuilder_new(&rawBuilder, repo_, parentTree.get()) != 0) {
        error = lastError("дерево");
        return false;
    }
    TBuilder builder(rawBuilder);
    git_oid rootTree;
    if (git_treebuilder_insert(nullptr, builder.get(), folder.c_str(), &folderTree, GIT_FILEMODE_TREE) != 0 ||
        git_treebuilder_write(&rootTree, builder.get()) != 0) {
        error = lastError("дерево");
        return false;
    }
    git_tree* rawRoot = nullptr;
    if (git_tree_lookup(&rawRoot, repo_, &rootTree) != 0) {
        error = lastError("дерево");
        return false;
    }
    TTree root(rawRoot);

    git_signature* rawSignature = nullptr;
    if (git_signature_default(&rawSignature, repo_) != 0 &&
        git_signature_now(&rawSignature, "kvbackup", "kvbackup@localhost") != 0) {
        error = lastError("подпись");
        return false;
    }
    TSignature signature(rawSignature);
    git_oid commitId;
    const git_commit* parents[] = {parent.get()};
    if (git_commit_create(&commitId, repo_, nullptr, signature.get(), signature.get(), "UTF-8", message.c_str(),
                          root.get(), hasParent ? 1 : 0, parents) != 0) {
        error = lastError("коммит");
        return false;
    }
    // The one step that makes the commit part of the history.
    git_reference* moved = nullptr;
    const std::string log = "kvbackup fleet: " + folder;
    const int rc = hasParent ? git_reference_create_matching(&moved, repo_, branch, &commitId, 1, &parentId, log.c_str())
                             : git_reference_create(&moved, repo_, branch, &commitId, 0, log.c_str());
    if (rc != 0) {
        error = lastError("ветка " + std::string(branch));
        return false;
    }
    git_reference_free(moved);
    id = idText(commitId);
    return checkout(error);
}

bool TRepository::checkout(std::string& error)
{
    git_checkout_options options = GIT_CHECKOUT_OPTIONS_INIT;
    options.checkout_strategy = GIT_CHECKOUT_FORCE;
    if (git_checkout_head(repo_, &options) != 0) {
        error = lastError("рабочая папка");
        return false;
    }
    return true;
}

bool TRepository::History(const std::string& folder, std::vector<TVersion>& versions, std::string& error) const
{
    versions.clear();
    git_revwalk* rawWalk = nullptr;
    if (git_revwalk_new(&rawWalk, repo_) != 0) {
        error = lastError("история");
        return false;
    }
    TWalk walk(rawWalk);
    git_revwalk_sorting(walk.get(), GIT_SORT_TOPOLOGICAL | GIT_SORT_TIME);
    if (git_revwalk_push_head(walk.get()) != 0)
        return true;  // no commit yet
    git_oid oid;
    while (git_revwalk_next(&oid, walk.get()) == 0) {
        git_commit* rawCommit = nullptr;
        if (git_commit_lookup(&rawCommit, repo_, &oid) != 0) {
            error = lastError("история");
            return false;
        }
        TCommitPtr commit(rawCommit);
        git_oid mine, theirs;
        const bool here = folderId(commit.get(), folder, mine);
        bool before = false;
        if (git_commit_parentcount(commit.get()) > 0) {
            git_commit* rawParent = nullptr;
            if (git_commit_parent(&rawParent, commit.get(), 0) == 0) {
                before = folderId(rawParent, folder, theirs);
                git_commit_free(rawParent);
            }
        }
        if (here == before && (!here || git_oid_equal(&mine, &theirs)))
            continue;
        TVersion v;
        v.id = idText(oid);
        v.shortId = v.id.substr(0, 8);
        v.when = timeText(git_commit_committer(commit.get())->when);
        v.message = git_commit_message(commit.get());
        versions.push_back(std::move(v));
    }
    return true;
}

}  // namespace kv
