// The driver's timing command: how long a launcher takes from the start of its
// process to the first complete paint of its main window.
#pragma once

#include <string>
#include <vector>

// time-paint [--cwd DIR] [--timeout MS] [--poll MS] [--linger MS] EXE [ARG...]
//
// Starts EXE, then polls every --poll milliseconds (default 2) until a
// launcher window of that process is visible and neither it nor any visible
// child has an update region left, i.e. every part of it has been painted.
// Prints, with milliseconds since just before the process was created:
//   start YYYY-MM-DD HH:MM:SS.mmm   the local clock then (as the launcher's log writes it)
//   pid N
//   window MS                       the window first exists (perhaps hidden)
//   shown MS                        it is first visible
//   painted MS                      it is visible with nothing left to paint
//   polls N pending M               polls in all, and those that saw it shown but unpainted
//   exit N                          after the window was closed, --linger ms after its
//                                   paint or at once (the process is ended when it
//                                   does not close in time)
// Exit status 0 when painted; 1 when the program ended first ("ended N") or
// the time ran out ("timeout"); 2 on a bad command.
int CmdTimePaint(std::vector<std::string> args);
