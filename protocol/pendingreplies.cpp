#include "pendingreplies.h"

PendingReplies pendingReplies;
