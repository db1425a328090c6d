// How the core reaches every set of dialogs it opens: the session's
// messages and password dialog (TDialogs), the value dialogs of the setting
// objects (TValueDialogs) and the dialogs of the collection objects
// (TCollectionDialogs). The three are installed, found and guarded alike:
//
//   TInstallDialogs<TValueDialogs> installed(qtValueDialogs);  // in force while it lives
//   ...
//   DialogsInForce<TValueDialogs>().Execute(form);             // on the UI thread only
//
// - An implementation is in force for as long as its TInstallDialogs lives.
//   The window installs its Qt sets for the lifetime of its main window,
//   tests their scripted sets for the length of a test. Installations stack:
//   the newest is in force, and when one ends (in any order) the newest of
//   those left is in force again; with none left the set's default answers.
// - DialogsInForce is the one entry to a set. It throws EUiThreadRequired
//   on any thread but the UI thread of the bridge in force, before a dialog
//   can be made: a step that opens a dialog must run on the UI thread (its
//   needsync says so). A job whose step throws ends, and the exception goes
//   to the application's exception handler.
//
// A set declares its default and its name for messages with a
// specialisation of TDialogSetTraits next to its interface:
//
//   template <> struct TDialogSetTraits<TValueDialogs> {
//       static constexpr const char* kName = "ValueDialogs";
//       static TValueDialogs& Default();
//   };
#pragma once

#include <algorithm>
#include <mutex>
#include <vector>

#include "serial/UiBridge.h"

namespace kv {

template <class TSet>
struct TDialogSetTraits;

namespace detail {

// The installations of one set, oldest first.
template <class TSet>
class TDialogSlot {
public:
    static TDialogSlot& Get()
    {
        static TDialogSlot slot;
        return slot;
    }
    void Push(TSet* set)
    {
        std::lock_guard<std::mutex> g(m_);
        stack_.push_back(set);
    }
    void Remove(TSet* set)
    {
        std::lock_guard<std::mutex> g(m_);
        auto it = std::find(stack_.rbegin(), stack_.rend(), set);
        if (it != stack_.rend())
            stack_.erase(std::next(it).base());
    }
    TSet* Top()
    {
        std::lock_guard<std::mutex> g(m_);
        return stack_.empty() ? nullptr : stack_.back();
    }

private:
    std::mutex m_;
    std::vector<TSet*> stack_;
};

}  // namespace detail

// The implementation of TSet in force (or its default). UI thread only:
// throws EUiThreadRequired elsewhere.
template <class TSet>
TSet& DialogsInForce()
{
    RequireUiThread(TDialogSetTraits<TSet>::kName);
    TSet* set = detail::TDialogSlot<TSet>::Get().Top();
    return set ? *set : TDialogSetTraits<TSet>::Default();
}

// Whether an implementation of TSet is installed (any thread).
template <class TSet>
bool DialogsInstalled()
{
    return detail::TDialogSlot<TSet>::Get().Top() != nullptr;
}

// Keeps `set` in force from construction to destruction. `set` must
// outlive the installation. Make and end installations while no job runs.
template <class TSet>
class TInstallDialogs {
public:
    explicit TInstallDialogs(TSet& set) : set_(&set) { detail::TDialogSlot<TSet>::Get().Push(set_); }
    ~TInstallDialogs() { detail::TDialogSlot<TSet>::Get().Remove(set_); }
    TInstallDialogs(const TInstallDialogs&) = delete;
    TInstallDialogs& operator=(const TInstallDialogs&) = delete;

private:
    TSet* set_;
};

}  // namespace kv
