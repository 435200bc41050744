// The kit's four jobs. Each checks all it can before it sends or writes
// anything, does its work, and returns true only once the work is done and
// confirmed; otherwise false, with one line for a person in `failure`:
// what was lost, and why, in the words of whoever refused (rrdtool,
// rrdcached, the system).
#pragma once

#include <cstdint>
#include <string>

// The database with one data source for each service LIST selects, in
// table order (pop3 smtp http ftp), a step of five minutes, and a day, a
// month and a year of averages and maxima. Never overwrites. With
// RRDCACHED_ADDRESS, made by the daemon in its folder, and confirmed there.
bool create_job(const std::string &db, const std::string &list, std::string &failure);

// Saves this host's connection table as SPOOL/netstatdump.log, counts it,
// and has rrdtool (or rrdcached) take the sample, waiting for its answer.
// One run per spool folder at a time, each sample in a second of its own.
bool collect_job(const std::string &db, const std::string &spool, const std::string &list,
                 std::string &failure);

// Draws every service DB holds, from START until now, into PNG, through a
// new file renamed over PNG. Runs where the database file is.
bool graph_job(const std::string &db, const std::string &png, const std::string &start,
               std::string &failure);

// The counts of SPOOL/netstatdump.log and the time it was saved, as
// node_exporter's textfile collector reads them, written whole into FILE
// (a name ending in .prom). Refuses a listing older than max_age seconds or
// dated in the future; `save` first saves a fresh listing as collect does.
bool textfile_job(std::int64_t max_age, bool save, const std::string &spool, const std::string &file,
                  const std::string &list, std::string &failure);
