// The "TimeStamp" attribute of log lines: the local time with microseconds,
// "[YYYY-mm-dd HH:MM:SS.ffffff]", computed afresh for every record as narrow text.
#pragma once

#include <string>

#include <boost/date_time/posix_time/ptime.hpp>
#include <boost/log/attributes/function.hpp>

class nb_timestamp : public boost::log::attributes::function<std::string> {
public:
    nb_timestamp();

    // The bracketed text of the current local time.
    static std::string now();
    // The bracketed text of a given time.
    static std::string format(const boost::posix_time::ptime& time);
};
