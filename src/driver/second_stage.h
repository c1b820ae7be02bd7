// Pieces of the second stage that its tests reach directly.
#pragma once

//--- environment change
// Tells every top-level window that the environment changed; nonzero when
// the broadcast was delivered within its time-out.
int BroadcastEnvironmentChange();
// The broadcast that AnnounceEnvironmentChange uses; tests may replace it.
extern int (*environmentBroadcast)();
// After the sequence: when a value left the registry, shows WaitPlease,
// broadcasts, wipes the line; a failed broadcast sets restartNeeded.
void AnnounceEnvironmentChange();
