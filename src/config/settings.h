// Process-wide settings: read once per run and then used by every part of
// the program by name. Texts start empty, integers at 0, flags as noted.
#pragma once

#include <string>

// --- From the configuration file, filled by readInitialPreferences. ---
extern std::string basicURL;   // base address of the service; requests append their path to it
extern std::string login;      // account name for the login
extern std::string password;   // account password for the login; never printed
extern int debugmode;          // exactly 1 turns on extra traces and the log and dump files
extern std::string caFile;     // PEM file of extra certificates to trust for HTTPS; empty = system store
extern bool sslVerify;         // false only when the configuration says sslVerify="0"
extern std::string runLog;     // file to which every run appends one line; empty = none
// How long, in hours, an exchange file may wait for 1C to load it, or a run
// may hold the exchange file's lock, before a run calls it a failure; 0 never.
extern int stallHours;
inline constexpr int kDefaultStallHours = 72;  // a weekend passes

// --- From the configuration file, filled by readImportParams. ---
extern std::string lastDocDT;  // service date-time of the last shift close already reported; "0" = from the start
extern std::string kkmNum;     // serial number of the cash register whose documents are imported
// The formatVersion attribute as the file has it: which of 1C's exchange
// formats the ImportData file is written in; kDefaultFormatVersion when the
// file has no such attribute.
extern std::string formatVersion;
inline constexpr const char* kDefaultFormatVersion = "3000";

// --- From the login answer, filled by getLoginParams. ---
extern std::string idSession;  // a credential: shown only in debug mode
extern std::string nameUser;
extern int idUser;
extern int idDealer;

// --- Of the HTTP transport. ---
extern std::string serviceAnswer;  // every answer body is appended here; takeServiceAnswer empties it
extern bool requestInProgress;     // true while a request is under way; a second one is refused

// True when debug mode is on (debugmode exactly 1).
inline bool debugOn() { return debugmode == 1; }

// Puts every process-wide value back to its start (settings, the
// transport's answer and flag, the first error remembered for the run).
void resetSettings();
