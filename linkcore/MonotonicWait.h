//////////////////////////////////////////////////////////////////////////////
// MonotonicWait.h
//
// Events and deadlines on the monotonic clock. A reply time-out, the engine's
// timer tick and the run-info writer's sleep are spans of time, not times of
// day: measured on the wall clock, a clock set back during a wait (by hand,
// by NTP, by a daylight-saving mistake) would stretch the wait by the jump.
// Every timed wait of the link layer therefore takes its event from here and
// its absolute deadline from MonotonicDeadline().
//////////////////////////////////////////////////////////////////////////////
#ifndef LINKCORE_MONOTONIC_WAIT_H
#define LINKCORE_MONOTONIC_WAIT_H

#include <ace/Auto_Event.h>
#include <ace/Manual_Event.h>
#include <ace/Monotonic_Time_Policy.h>
#include <ace/Time_Value_T.h>

// Wait on these with an absolute deadline from MonotonicDeadline() (a
// relative time-out would be turned into a wall-clock deadline by ACE).
typedef ACE_Auto_Event_T<ACE_Monotonic_Time_Policy>   CMonotonicAutoEvent;
typedef ACE_Manual_Event_T<ACE_Monotonic_Time_Policy> CMonotonicManualEvent;
typedef ACE_Time_Value_T<ACE_Monotonic_Time_Policy>   CMonotonicTime;

inline CMonotonicTime MonotonicNow()
{
    return ACE_Monotonic_Time_Policy()();
}

inline CMonotonicTime MonotonicDeadline(unsigned int ms)
{
    CMonotonicTime t = MonotonicNow();
    t += ACE_Time_Value(static_cast<time_t>(ms / 1000), static_cast<suseconds_t>((ms % 1000) * 1000));
    return t;
}

#endif
