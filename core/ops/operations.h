#pragma once

#include "codec/firmwareimage.h"
#include "core/devices/registry.h"
#include "core/link/lineclient.h"
#include "core/ops/operationhost.h"
#include "core/ops/target.h"
#include "core/sensor/calibrationstep.h"
#include "core/sensor/ustform.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <functional>

// The jobs done with the sensors, free of any window: each takes the record it works on when
// it starts, talks through the line client, asks its host what it must ask, and returns a
// result that says how it ended and why.
namespace ops {

// Attempts of a request that must get through, and reads of a settings block that came damaged.
constexpr int usualAttempts = 3;

struct Result
{
    enum Kind
    {
        Done,
        Refused,   // nothing reached the wire: the input or the sensor's state forbade it
        Declined,  // the user said no at a confirmation; nothing was sent after it
        Cancelled, // the user stopped it part-way
        Failed,    // the sensor failed or did not answer: error holds the code
        Ending,    // the program is ending
    };
    Kind kind = Done;
    int error = 0;
    QString title; // how the window titles the box that tells of it
    QString text;  // what went wrong, as the user reads it

    bool done() const { return kind == Done; }

    static Result success() { return {}; }
    // Refused before the wire; error, when not 0, is the code of the read that decided it.
    static Result refused(const QString& title, const QString& text, int error = 0)
    {
        return {Refused, error, title, text};
    }
    static Result declined() { return {Declined, 0, QString(), QString()}; }
    static Result cancelled() { return {Cancelled, 0, QString(), QString()}; }
    static Result failed(int error, const QString& title = QString(),
                         const QString& text = QString())
    {
        return {Failed, error, title, text};
    }
    static Result ending() { return {Ending, 0, QString(), QString()}; }
};

// Base of the operations: the line, the host, and how an exchange's outcome is recorded.
class Operation
{
public:
    Operation(LineClient& line, OperationHost& host) : line(line), host(host) {}

protected:
    // Records the reply's outcome on the record and tells whoever shows it (the line's
    // outcome notice).
    void record(DeviceVEL_DUO300* dev, const Reply& reply);
    // The record's settings image as the base of a write, read when it did not come from the
    // sensor, came damaged, or fresh is asked, so that a write never sends what nobody chose
    // nor what a damaged read made of the sensor's block. Refusals are titled as the caller's
    // boxes.
    Result soundSettings(DeviceVEL_DUO300* dev, const QString& title, bool fresh = false);
    // Refused, titled, when the place the sensor would move to is taken.
    Result claimTarget(DeviceVEL_DUO300* dev, const Place& to, const QString& title);
    // Writes a settings block built from the record's sound image (three attempts). A block
    // that moves the sensor to another address or speed goes out only once that place was
    // found free: here, or by the caller's claimTarget just before (claimed). On success the
    // record takes the block and the place it names.
    Result writeBlock(DeviceVEL_DUO300* dev, const UstBlock& block, const QString& title,
                      bool claimed = false);

    LineClient& line;
    OperationHost& host;
};

// The settings block into the record.
class ReadSettings : public Operation
{
public:
    using Operation::Operation;
    Result run(DeviceVEL_DUO300* dev, int attempts);
    // The block as the base of a write: read again, up to the usual attempts, while it comes
    // damaged. Refused, with the read's error, when the sensor does not answer; Failed when
    // the block stays damaged.
    Result runForWrite(DeviceVEL_DUO300* dev, const QString& title);
};

// Whether a sensor may move from one place to another: the place it moves to is probed at its
// speed (the port re-opened there and back) until anything answers, and judged. Refused, with
// the verdict's text, when it is taken.
class CheckTarget : public Operation
{
public:
    using Operation::Operation;
    Result run(const Place& from, const Place& to, const QString& title,
               int attempts = usualAttempts);
    TargetVerdict verdict;
};

// The name, speed and setpoint of a form over the sensor's settings block, checked in full
// before the first byte.
class WriteSettings : public Operation
{
public:
    using Operation::Operation;
    Result run(DeviceVEL_DUO300* dev, const UstForm& form);
};

// A new Modbus address: checked, probed for a sensor already there, confirmed, written.
class ChangeAddress : public Operation
{
public:
    using Operation::Operation;
    Result run(DeviceVEL_DUO300* dev, int newAddr);
};

// The factory settings block, after confirmation, unless something answers at the factory
// address and speed already. The record keeps its address and speed.
class ResetSettings : public Operation
{
public:
    using Operation::Operation;
    Result run(DeviceVEL_DUO300* dev);
};

// The live values: the parameters block, then coil 0.
class PollSensor : public Operation
{
public:
    using Operation::Operation;
    Result run(DeviceVEL_DUO300* dev);
    // Coil 0 alone; its status byte is 0 after a failed read.
    Reply readCoil(DeviceVEL_DUO300* dev);
    // The parameters block alone.
    Reply readValues(DeviceVEL_DUO300* dev, int attempts);
    // Coil 0, then the parameters block with the given attempts; false when the program is
    // ending.
    bool readParam(DeviceVEL_DUO300* dev, int attempts);
};

// The zero point: the settings as read, with the last ADC reading as the zero point.
class CalibrateZero : public Operation
{
public:
    using Operation::Operation;
    Result run(DeviceVEL_DUO300* dev);
    // The record takes the last ADC reading as its zero point, without an exchange: what run
    // does whether or not the point reaches the sensor, and what a caller that may not use the
    // line does instead of running it. A later write sends it.
    static void takePoint(DeviceVEL_DUO300* dev);
};

// The nominal point: the gain stepped until the ADC reading lies in the window, then the
// reading written as the nominal point with the values the form gives at that moment, or
// without a form with the settings as read.
class CalibrateNominal : public Operation
{
public:
    using Operation::Operation;
    Result run(DeviceVEL_DUO300* dev, const std::function<UstForm()>& form = nullptr);

private:
    bool adjustGain(DeviceVEL_DUO300* dev, calibration::Phase phase);
};

// A sensor added to the registry by address and speed, with its settings read; the row it
// got, or -1 when it was known already (then nothing is sent).
class AddSensor : public Operation
{
public:
    AddSensor(LineClient& line, OperationHost& host, SensorRegistry& registry)
        : Operation(line, host), registry(registry)
    {
    }
    int run(int addr, int baudrate, Result* result = nullptr);

private:
    SensorRegistry& registry;
};

// Every listed address probed once at every listed speed; whoever answers is added.
class SearchLine : public Operation
{
public:
    SearchLine(LineClient& line, OperationHost& host, SensorRegistry& registry)
        : Operation(line, host), registry(registry)
    {
    }
    Result run(const QString& portName, const QStringList& speeds, const QStringList& addrs);
    // Rows of the sensors the run added.
    QVector<int> found;
    // Called with each row as it is added, the line still at that sensor's speed, so that the
    // caller may read it and tell of it at once; false ends the run as a cancel does.
    std::function<bool(int row)> onFound;

private:
    SensorRegistry& registry;
};

// The application replaced through the sensor's loader with an image read and checked whole.
class Reprogram : public Operation
{
public:
    using Operation::Operation;
    // The question that names the sensor and the image before anything is sent.
    static Question confirmation(const DeviceVEL_DUO300& dev, const QString& imagePath);
    // Reads and checks the image, asks, and runs the procedure. Without a record (the caller
    // may not use the line) the image is checked all the same and nothing is sent.
    Result run(DeviceVEL_DUO300* dev, const QString& imagePath);
    // The same with the image as read from imagePath by the caller, who checked it already.
    Result run(DeviceVEL_DUO300* dev, const QString& imagePath, const firmware::ImageFile& image);
    // The run ended with the sensor in its loader, its application erased or half written:
    // it answers no application request until it is reprogrammed.
    bool leftInLoader = false;

private:
    // Not done when the settings came damaged and the run must stop: nothing was written. A
    // sensor that does not answer the read is taken to sit in its loader already: the run goes
    // on without the request.
    Result writeLoaderRequest(DeviceVEL_DUO300* dev);
    void step(int value, int maximum);
    int value = 0;
    int maximum = 100;
};

// A sensor that answered an application request with "nonexistent command" answers as its
// loader does: a flash cut short leaves it there. What the user is told of it, with the way
// back (wayOut) that the program offers; empty when the record's last answer was no such one.
QString loaderNotice(const DeviceVEL_DUO300& dev, const QString& wayOut);

// What the user is told when a flash ends with the sensor in its loader (Reprogram::leftInLoader).
QString leftInLoaderText(const DeviceVEL_DUO300& dev, const QString& wayOut);

} // namespace ops
