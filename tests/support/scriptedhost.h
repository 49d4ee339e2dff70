#pragma once

#include "core/ops/operationhost.h"
#include "codec/device.h"

#include <QList>
#include <QMap>
#include <functional>

// The host of an operation under test: answers its questions from a script (by question id),
// records what it was asked and told, and runs a hook at a given progress step.
class ScriptedHost : public ops::OperationHost
{
public:
    int ask(const ops::Question& question) override
    {
        asked.append(question);
        return answers.value(question.id, ops::Ok);
    }
    void progress(int value, int maximum) override
    {
        steps.append({value, maximum});
        if (onProgress)
            onProgress(value, maximum);
    }
    bool cancelled() override { return cancel; }
    void outcome(DeviceVEL_DUO300*, int error) override { outcomes.append(error); }
    void settingsChanged(DeviceVEL_DUO300*) override {}
    void paramsChanged(DeviceVEL_DUO300*) override {}
    void listChanged(int row) override { rows.append(row); }
    void committed() override { ++commits; }
    bool permitCommunication() override { return true; }

    QMap<QString, int> answers; // question id -> button; Ok when not scripted
    QList<ops::Question> asked;
    QList<QPair<int, int>> steps;
    QList<int> outcomes;
    QList<int> rows;
    int commits = 0;
    bool cancel = false;
    std::function<void(int, int)> onProgress;
};
