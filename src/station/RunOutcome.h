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
    bool recordsKept = true;           // the run's journal record and transcript reached the disk

    StageResult stage(Stage s) const { return stages[static_cast<int>(s)]; }
    // The router answered, every stage chosen ran and succeeded, and the
    // run's records were kept.
    bool succeeded() const {
        if (!routerFound || !recordsKept) return false;
        for (StageResult result : stages)
            if (result != StageResult::NotChosen && result != StageResult::Succeeded) return false;
        return true;
    }
};

}  // namespace vornix
