#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <Qt>

// Decisions of the speed and address lists and of the automatic search, free of widgets so
// that they can be tested directly.

// A list or combo box text as a number; a text that is no decimal number reads as 0.
int listNumber(const QString& text);

// The texts as numbers, sorted in the given order and written back in decimal.
QStringList sortedNumerically(const QStringList& texts, Qt::SortOrder order);

// One step of a search: re-open the port at a speed, or probe an address at the speed of the
// last re-open.
struct SearchStep
{
    enum Kind
    {
        Reopen,
        Probe
    };
    Kind kind;
    int baudrate;
    int addr; // 0 for a re-open
    bool operator==(const SearchStep& other) const
    {
        return kind == other.kind && baudrate == other.baudrate && addr == other.addr;
    }
};

// The steps of a search over the lists as they stand: for each speed in list order a re-open,
// then one probe of each address in list order.
QList<SearchStep> searchPlan(const QStringList& speeds, const QStringList& addrs);

// The number of probes in a plan.
int probeCount(const QList<SearchStep>& plan);

// The lists a search starts with: the speeds sensors are usually set to, fastest first, and
// every address a sensor may take.
QStringList defaultSearchSpeeds();
QStringList defaultSearchAddresses();
