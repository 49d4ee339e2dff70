#pragma once

#include "core/ops/operationhost.h"

#include <QList>
#include <QMap>
#include <functional>

// The host of an operation under test: answers its questions from a script (by question id),
// records what it was asked, and runs a hook at a given progress step.
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
    void committed() override { ++commits; }

    QMap<QString, int> answers; // question id -> button; Ok when not scripted
    QList<ops::Question> asked;
    QList<QPair<int, int>> steps;
    int commits = 0;
    bool cancel = false;
    std::function<void(int, int)> onProgress;
};
