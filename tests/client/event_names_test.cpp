// The event names cnxd-cli prints, generated from ind.def at build time,
// against the callback table the daemon registers from the same file.
#include <map>
#include <string>

#include <cnxd_event_names.h>

#include "event_names.h"
#include "ind/ind.h"

namespace cnxd::test {
namespace {

TEST(EventNames, AreTheTitlesOfEachEventsFirstRow)
{
    std::map<uint16_t, std::string> expected;
    for (const ind_row& row : ind_callback_tbl)
        if (row.event != IND_EVENT_NONE && row.title)
            expected.emplace(static_cast<uint16_t>(row.event), row.title);
    std::map<uint16_t, std::string> generated;
    for (const cli::event_name_row& row : cli::event_name_tbl)
        EXPECT_TRUE(generated.emplace(row.event, row.name).second) << "event " << row.event << " twice";
    EXPECT_EQ(expected, generated);

    for (const auto& [event, title] : expected)
        EXPECT_EQ(title, cli::event_name(event));
    // The event a body picks for itself (UICC deactivate) has no row.
    EXPECT_EQ(nullptr, cli::event_name(126));
    EXPECT_EQ(nullptr, cli::event_name(0xFFFF));
}

}  // namespace
}  // namespace cnxd::test
