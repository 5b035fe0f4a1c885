#pragma once

#include "station/OperatorConsole.h"

namespace vornix {

// How a stage of a run ended.
enum class StageResult { NotChosen, NotRun, Succeeded, Failed };

// What a run hands back once it is over.
struct RunOutcome {
    bool routerFound = false;
    StageResult stages[3] = {StageResult::NotChosen, StageResult::NotChosen, StageResult::NotChosen};
    long long stageMs[3] = {0, 0, 0};  // how long each stage that ran took

    StageResult stage(Stage s) const { return stages[static_cast<int>(s)]; }
    // The router answered and every stage chosen ran and succeeded.
    bool succeeded() const {
        if (!routerFound) return false;
        for (StageResult result : stages)
            if (result != StageResult::NotChosen && result != StageResult::Succeeded) return false;
        return true;
    }
};

}  // namespace vornix
