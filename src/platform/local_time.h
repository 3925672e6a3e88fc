// The wall clock in the user's local time zone, to the millisecond: time
// stamps of log lines and the date-and-time names of generated files.
#pragma once

struct LocalTime {
    int year = 0;         // e.g. 2026
    int month = 0;        // 1..12
    int day = 0;          // 1..31
    int hour = 0;         // 0..23
    int minute = 0;       // 0..59
    int second = 0;       // 0..60 (a leap second where the system reports one)
    int millisecond = 0;  // 0..999
};

LocalTime CurrentLocalTime();
