#pragma once

#include <QString>

// What an operation asks of whoever runs it: the window answers with its boxes and progress
// bar, a command line with prompts and its terminal, a test with a script. What the operation
// tells of the sensors goes out through the line client's signals instead, and whether it may
// run at all is for the caller to decide before it starts.
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
    // The user confirmed, and the part of the operation that cannot be undone starts.
    virtual void committed() = 0;
};

} // namespace ops
