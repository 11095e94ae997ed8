// The message pump of the progress dialog, which has no loop of its own: the update driver calls it.
#pragma once

// Handles every waiting message without waiting. 1 when a quit message was seen (or anything escaped a
// window procedure), else 0.
int PumpMessages();
