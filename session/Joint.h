// The base of every device-backed object and the get/set exchanges.
//
// A job is a TJoint: the worker (TCOMServer) calls needsync() and process()
// until process() reports the job finished. TJoint1 is the base of the
// setting objects: a four-step machine (1 input, 2 write, 3 read, 4 show)
// over one numbered parameter of the unit, shown in one grid cell.
//
// The parameter primitives run on the worker thread, block it for the
// exchange and report every failure themselves in an error dialog; they
// return what they have and never a success flag. A failure on a silent
// line (no echo, no prompt, no reply in time) is the end of the job and of
// the user's action it belongs to: after its message the primitive throws
// ELineFault (session/Comm.h). Texts they take and return
// are UTF-8; on the wire they are code page 1251.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kv {

// One grid of the window. Defined together with the grids; the session only
// passes the pointer around and reaches cells through the hooks below.
class TGridModel;

class TJoint {
public:
    // Runs one step; true when the job is finished.
    virtual bool process();
    // True when the step process() would run next must run on the UI thread.
    virtual bool needsync();
    virtual ~TJoint() = default;

    // Sets the step the next job starts at: one of the named steps of the
    // object's class (kRead, TListDlg::kAddEntry, ...). The caller then hands
    // the object to the session's Run.
    void Begin(int32_t step) { action = step; }

    int32_t action = 0;
};

class TJoint1 : public TJoint {
public:
    // The steps of the four-step machine.
    static constexpr int32_t kInput = 1;  // edit in the value dialog, then write
    static constexpr int32_t kWrite = 2;  // write the value held, then read back
    static constexpr int32_t kRead = 3;   // read and show
    static constexpr int32_t kShow = 4;

    bool process() override;
    bool needsync() override;
    // Lets the user edit the value; sets action to 2 (write) or 0 (no change).
    virtual void input();
    // Reads the value from the unit.
    virtual void getp();
    // Writes the value to the unit.
    virtual void setp();
    // Shows the value.
    virtual void output();
    // The value as display text: the grid cell, kNotRead while the object
    // holds no value read from the unit, "Не определен" without a grid.
    virtual std::string text();
    // What is shown in place of a value that could not be read.
    static constexpr const char* kNotRead = "Не прочитано";
    // The value as the unit sends it (a digit string, or a number in
    // decimal), and setting the value from such a text without a dialog, for
    // a write step (false, nothing changed: not a value of this object).
    // Objects without one value: "" and false.
    virtual std::string WireValue() const { return {}; }
    virtual bool SetWireValue(const std::string& wire)
    {
        (void)wire;
        return false;
    }

    int32_t code = 0;
    int32_t col = 0;
    int32_t row = 0;
    TGridModel* grid = nullptr;
    uint8_t menu = 0;
    // Whether the object holds a value read from the unit: its last read
    // (step 3) ended without a message. A read that failed shows kNotRead
    // (unread()) instead of the value it would fall back to.
    bool valueRead = false;

protected:
    // Shows that the value could not be read: the grid cell says kNotRead.
    virtual void unread();
};

// How the base TJoint1 reaches a grid cell. Whoever defines TGridModel
// installs both once; until then output() writes nothing and text() reads "".
using TGridCellSetter = void (*)(TGridModel* grid, int32_t col, int32_t row, const std::string& text);
using TGridCellGetter = std::string (*)(TGridModel* grid, int32_t col, int32_t row);
void SetGridCellAccess(TGridCellSetter setter, TGridCellGetter getter);
void SetGridCell(TGridModel* grid, int32_t col, int32_t row, const std::string& text);
std::string GridCell(TGridModel* grid, int32_t col, int32_t row);

// A line from the unit as a message quotes it: in UTF-8, and, when its text
// (without the CR that ends it) is longer than kQuoteLimit characters, its
// first kQuoteLimit characters followed by "...". A line that is not cut
// keeps its CR.
constexpr size_t kQuoteLimit = 200;
std::string QuotedReply(std::string_view line);

// Starts reading parameter code: "GET\r", the "N" prompt, the code.
void SendGet(int32_t code);
// Starts writing parameter code: "SET\r", the "N" prompt, the code.
void SendSet(int32_t code);
// Reads a digit-string parameter; "" when nothing could be read.
std::string DirectoryGet(int32_t code);
// Writes a digit-string parameter.
void DirectorySet(int32_t code, const std::string& value);
// Reads a numeric parameter; 0 when nothing could be read.
int32_t NumberGet(int32_t code);
// Writes a numeric parameter.
void NumberSet(int32_t code, int32_t value);
// Reads the name and length of a voice-message slot; outputs that could not
// be read are left as they were.
void MessageGet(int32_t code, std::string& name, int32_t& length);

}  // namespace kv
