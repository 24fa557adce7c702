// Where LinkCore keeps its files, all relative to the working directory
// (the program folder when the program is started the usual way). Every
// path LinkCore forms for its own files starts from one of these.
#ifndef LINKCORE_LINKCOREPATHS_H
#define LINKCORE_LINKCOREPATHS_H

// The system configuration file: log sizes and log switches.
#define LINKCORE_SYSTEM_CONFIG "../config/SystemConfig.ini"
// The run-info log files ("<folder>/<process name>_0.txt" and "_1.txt").
#define LINKCORE_RUNINFO_FOLDER "./log"
// The trace files of the protocol engines ("<folder>/RAW_MSG_CH1_1.txt" ...).
#define LINKCORE_TRACE_FOLDER "./msg"

#endif
