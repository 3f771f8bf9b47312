// The interface indications against the simulated SDK and the real client
// table: the naming of an interface asked for from outside, the IP
// allocation from the TID list, the record forwarded as it stands, and what
// the release and change indications print, configure and forward.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "base/be.h"
#include "client/inproc_daemon.h"
#include "ind/ind.h"
#include "ltesim.h"
#include "modem/bringup.h"
#include "modem/if_record.h"

namespace cnxd::test {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint16_t HCI_SDK_CALLBACK_ID = 0x8107;
constexpr uint16_t HCI_LOG_ID = 0x810B;
constexpr uint32_t DEV = 1;

// An IPv4 interface with an address of its own (so no DHCP is started).
Bytes nic(const std::string& name, const std::string& apn, uint16_t eps)
{
    Bytes r(ifrec::SIZE, 0);
    std::copy(name.begin(), name.end(), r.begin() + ifrec::NAME);
    store_be16(&r[ifrec::EPS_BEARER], eps);
    r[ifrec::APN_LEN] = static_cast<uint8_t>(apn.size());
    std::copy(apn.begin(), apn.end(), r.begin() + ifrec::APN_NAME);
    const uint8_t addr[] = {10, 1, 2, 3, 255, 255, 255, 0};
    std::copy(std::begin(addr), std::end(addr), r.begin() + ifrec::IPV4_ADDR);
    return r;
}

class Interfaces : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::create_directories(daemon.root() + "/etc");
        store_profiles({"internet", "IMS.Operator", "admin"});
        ASSERT_EQ(0, LAPI_LTEAPIOpen(&hAPI));
        for (const char* line : {"set delay_ms 0", "fail LAPI_GetCrashLogRequest 1", "fail LAPI_PSInitRequest 1",
                                 "fail LAPI_OnlineRequest 1"})
            ASSERT_EQ("ok\n", ltesim::control(line));
        ind_register(hAPI);
        cnxd_set_receive(listener.get(), 1);
        cnxd_subscribe_all(subscriber.get(), 1);
    }
    void TearDown() override
    {
        LAPI_AllCallbackUnRegister(hAPI);
        EXPECT_EQ(0, LAPI_LTEAPIClose(hAPI));
    }

    // The device's APN profiles 1, 2, ... and no more.
    void store_profiles(const std::vector<std::string>& names)
    {
        std::ofstream out(daemon.root() + "/etc/confdb.ini");
        for (size_t i = 0; i < names.size(); ++i)
            out << "[vemo cm_config apnprofile apn" << i + 1 << "]\napn_name=" << names[i] << "\n";
    }

    // Runs the handler of callback `id` and collects what it sent.
    void run(uint32_t id, const Bytes& rec)
    {
        for (const ind_row& r : ind_callback_tbl)
            if (r.cb_id == id)
                std::get<LAPI_CALLBACK>(r.handler)(DEV, rec.empty() ? nullptr : const_cast<uint8_t*>(rec.data()),
                                                   static_cast<uint32_t>(rec.size()));
        collect();
    }
    // What the handlers sent since the last collect().
    void collect()
    {
        frames.clear();
        while (auto d = recv_datagram(subscriber.get(), 200))
            if (load_be16(d->data()) == HCI_SDK_CALLBACK_ID)
                frames.emplace_back(d->begin() + 12, d->end());
        log.clear();
        while (auto d = recv_datagram(listener.get(), 100))
            if (load_be16(d->data()) == HCI_LOG_ID)
                log.append(d->begin() + 4, d->end());
    }
    bool logged(const std::string& text) const { return log.find(text) != std::string::npos; }
    // The operations of the LAPI_ConfigureNetworkInterface calls so far.
    static std::vector<uint32_t> configured()
    {
        std::vector<uint32_t> ops;
        std::istringstream calls(ltesim::control("calls"));
        for (std::string line; std::getline(calls, line);)
            if (line.starts_with("LAPI_ConfigureNetworkInterface "))
                ops.push_back(static_cast<uint32_t>(std::stoul(line.substr(line.size() - 8), nullptr, 16)));
        ltesim::control("clear");
        return ops;
    }

    InprocDaemon daemon;
    Session listener = open_session(0);
    Session subscriber = open_session(7);
    std::vector<Bytes> frames;  // the forwarded records
    std::string log;
};

std::string name_of(const Bytes& rec) { return reinterpret_cast<const char*>(&rec[ifrec::NAME]); }

TEST_F(Interfaces, ReadyNamesAnInterfaceFromOutsideAfterTheProfileOfItsApn)
{
    run(77, nic("", "ims.operator", 5));  // profile 2, whatever the case
    ASSERT_EQ(1u, frames.size());
    EXPECT_EQ("lte0pdn1", name_of(frames[0]));
    EXPECT_TRUE(logged("\nINTERFACE READY INDICATION(DEV_IDX(1))\nInterface request is from outside\n")) << log;
    EXPECT_TRUE(logged("Interface Name : lte0pdn1\n")) << log;

    run(77, nic("", "elsewhere", 5));  // no match: the first unreadable profile
    EXPECT_EQ("lte0pdn3", name_of(frames.at(0)));
    store_profiles({"a", "b", "c", "d", "e", "f", "g", "h"});
    run(77, nic("", "elsewhere", 5));  // every profile read, none matched
    EXPECT_EQ("lte0pdn8", name_of(frames.at(0)));

    run(77, nic("lte0pdn4", "internet", 5));  // named by the modem: kept
    EXPECT_EQ("lte0pdn4", name_of(frames.at(0)));
    EXPECT_FALSE(logged("from outside"));
}

TEST_F(Interfaces, ReadyTakesTheAllocationOfTheTidEntryPrintsAndForwardsTheRecord)
{
    // The modem's own PDN in slot 2 (default EPS bearer 7), by DHCP.
    ASSERT_EQ("ok\n", ltesim::control("set ip_alloc 1"));
    ASSERT_EQ("ok\n", ltesim::control("pdn up 2 somewhere"));
    ASSERT_EQ("ok\n", ltesim::control("sync"));
    collect();
    configured();

    Bytes rec = nic("lte0pdn2", "somewhere", 7);
    run(77, rec);
    ASSERT_EQ(1u, frames.size());
    EXPECT_EQ(1, frames[0][ifrec::IP_ALLOC]) << "byte 7 of the TID entry";
    rec[ifrec::IP_ALLOC] = 1;
    EXPECT_EQ(rec, frames[0]) << "otherwise the record as handed";
    EXPECT_TRUE(logged("Date Path      : 0\nPDN IP Type    : 0\nNIC Type       : 0\nDefault EPS ID : 7\n"
                       "APN class      : 0\nAPN NI         : somewhere\n"))
        << log;
    EXPECT_TRUE(logged("IPv4 Address        : 10.1.2.3\nIPv4 Netmask        : 255.255.255.0\n")) << log;
    EXPECT_TRUE(logged("Print nic_info before CMD_EVT_INT_READY_IND ===> 10.1.2.3\n")) << log;
    EXPECT_EQ(std::vector<uint32_t>{3}, configured());

    // An unknown bearer keeps the record's allocation; both IP types print
    // the IPv4 block and the IPv6 error.
    rec = nic("lte0pdn3", "", 99);
    rec[ifrec::PDN_IP_TYPE] = 2;
    rec[ifrec::IPV6_ERROR] = 1;
    run(77, rec);
    EXPECT_EQ(rec, frames.at(0));
    EXPECT_TRUE(logged("Can't find TID by dft_eps_id (99).\n")) << log;
    EXPECT_TRUE(logged("IPv4 Secondary DNS  : 0.0.0.0\nIPv6 Error\n")) << log;
    EXPECT_FALSE(logged("APN NI")) << "no APN, no line";
}

TEST_F(Interfaces, ReleaseAndChangeConfigureAndForwardOnlyWhatIsTheirs)
{
    Bytes rec = nic("lte0pdn0", "internet", 5);
    run(78, rec);
    ASSERT_EQ(1u, frames.size());
    EXPECT_EQ(rec, frames[0]);
    EXPECT_TRUE(logged("\nINTERFACE RELEASE INDICATION(DEV_IDX(1))\nInterface Name : lte0pdn0\n")) << log;
    EXPECT_EQ(std::vector<uint32_t>{0}, configured());

    Bytes detached(ifrec::SIZE, 0);
    store_be16(&detached[ifrec::EPS_BEARER], ifrec::BEARER_ALL);
    run(78, detached);
    EXPECT_EQ(1u, frames.size());
    EXPECT_TRUE(logged("Network detached\n")) << log;
    EXPECT_FALSE(logged("Interface Name"));
    EXPECT_EQ(std::vector<uint32_t>{0}, configured());

    // Not the daemon's data path: nothing beyond the entry line.
    rec[ifrec::DATA_PATH] = 1;
    run(78, rec);
    EXPECT_TRUE(frames.empty());
    EXPECT_EQ("", log);
    EXPECT_TRUE(configured().empty());

    // A change reconfigures only on an IPv6 error.
    rec = nic("lte0pdn0", "internet", 5);
    run(79, rec);
    EXPECT_EQ(1u, frames.size());
    EXPECT_TRUE(configured().empty());
    rec[ifrec::IPV6_ERROR] = 1;
    run(79, rec);
    EXPECT_EQ(1u, frames.size());
    EXPECT_EQ(std::vector<uint32_t>{2}, configured());

    // No record at all.
    for (uint32_t id : {77u, 78u, 79u}) {
        run(id, {});
        EXPECT_TRUE(frames.empty()) << id;
        EXPECT_TRUE(logged("Invalid nic_info\n")) << id;
        EXPECT_FALSE(logged("INDICATION(DEV_IDX")) << id;
    }
}

}  // namespace
}  // namespace cnxd::test
