#include "logging/nb_timestamp.h"

#include <locale>
#include <sstream>

#include <boost/date_time/posix_time/posix_time.hpp>

namespace {

// Built once per process; the locale owns the facet.
const std::locale& timestamp_locale() {
    static const std::locale locale(std::locale::classic(),
                                    new boost::posix_time::time_facet("%Y-%m-%d %H:%M:%S.%f"));
    return locale;
}

}  // namespace

nb_timestamp::nb_timestamp() : boost::log::attributes::function<std::string>(&nb_timestamp::now) {}

std::string nb_timestamp::now() { return format(boost::posix_time::microsec_clock::local_time()); }

std::string nb_timestamp::format(const boost::posix_time::ptime& time) {
    std::ostringstream text;
    text.imbue(timestamp_locale());
    text << '[' << time << ']';
    return text.str();
}
