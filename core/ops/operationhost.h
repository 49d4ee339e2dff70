#pragma once

#include <QString>

struct DeviceVEL_DUO300;

// What an operation asks of whoever runs it: the window answers with its boxes, progress bar
// and list colours, a command line with prompts and its terminal, a test with a script.
namespace ops {

// The buttons a question offers, with the values of the toolkit's standard buttons, so that a
// window can hand them on unchanged.
enum Button
{
    NoButton = 0,
    Ok = 0x00000400,
    Yes = 0x00004000,
    No = 0x00010000,
    Cancel = 0x00400000,
};

enum class Icon
{
    Information,
    Warning,
    Critical,
    Question,
};

// A question or a message: id names it for scripted answers; the texts are the user's.
struct Question
{
    QString id;
    Icon icon = Icon::Warning;
    QString title;
    QString text;
    int buttons = Ok;
    int defaultButton = NoButton;
};

class OperationHost
{
public:
    virtual ~OperationHost() = default;

    // Shows the question and returns the button chosen. A message with the single button Ok
    // informs only; its answer does not matter.
    virtual int ask(const Question& question) = 0;
    // How far a long operation is: value of maximum steps.
    virtual void progress(int value, int maximum) = 0;
    // Whether the user asked to stop the operation; a search asks between its probes.
    virtual bool cancelled() = 0;
    // An exchange with the record's sensor ended with this error code (0: it answered); called
    // before the record takes the outcome.
    virtual void outcome(DeviceVEL_DUO300* dev, int error) = 0;
    // The record's settings changed, or an exchange for them failed: whatever shows them is
    // refreshed.
    virtual void settingsChanged(DeviceVEL_DUO300* dev) = 0;
    // The record's live values changed, or an exchange for them failed.
    virtual void paramsChanged(DeviceVEL_DUO300* dev) = 0;
    // A record was added to the registry at this row.
    virtual void listChanged(int row) = 0;
    // The user confirmed, and the part of the operation that cannot be undone starts.
    virtual void committed() = 0;
    // Whether an exchange may start at all (a sensor is selected, a port is named).
    virtual bool permitCommunication() = 0;
};

} // namespace ops
