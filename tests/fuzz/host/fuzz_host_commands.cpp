// Arbitrary sequences of host messages against a hooked endpoint in a simulated world: commands
// with any sender, code and data, enumerations, self-posts, and failing allocations, locks and
// posts. Whatever arrives, the endpoint must not crash, read past the data, queue more than 39
// commands or keep a data copy once the ring is gone.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "fuzz/support/fuzz_input.h"
#include "fuzz/support/fuzz_world.h"
#include "host/plugin.h"
#include "host/xray_ifc.h"
#include "platform/sim/world.h"
#include "support/bytes.h"
#include "trace/trace.h"

namespace {

using namespace quilo;
using platform::Hwnd;
using platform::LParam;

using Input = quilo::test::FuzzInput;

void require(bool ok) {
    if (!ok) std::abort();
}

class Quiet final : public host::PluginEvents {};

}  // namespace

// One world for the whole run (making a world per input costs more than the input itself); each
// input gets a fresh module and endpoint, and leaves no fault, message or memory block behind.
struct Fixture {
    sim::World world{test::filesInMemory()};
    sim::SimProcess& viewerProc = world.createProcess();
    sim::SimProcess& plugin = world.createProcess();
    sim::SimProcess& hostProc = world.createProcess();
    trace::Trace reader{viewerProc.mailslots(), viewerProc.clock(), viewerProc.process()};
    Hwnd pluginHwnd = 0, hostHwnd = 0, otherHwnd = 0;
    Fixture() {
        // The trace lines are the outcome, read only when it is echoed. Without a reader the
        // plug-in's trace stays off, as when nobody watches it, and costs (nearly) nothing;
        // the endpoint does the same either way.
        if (test::echoing()) reader.TraceOpen(true);
        platform::WindowSpec spec;
        pluginHwnd = plugin.windows().createWindow(spec, nullptr);
        hostHwnd = hostProc.windows().createWindow(spec, nullptr);
        otherHwnd = hostProc.windows().createWindow(spec, nullptr);
    }
    // Clears the faults, runs what is queued and forgets the message boxes and sounds the input
    // left; the trace lines it left are the outcome.
    void reset() {
        for (int f = 0; f <= static_cast<int>(sim::Fault::LoadLibrary); ++f)
            world.failAlways(static_cast<sim::Fault>(f), false);
        world.runUntilIdle();
        for (sim::SimProcess* p : {&viewerProc, &plugin, &hostProc})
            p->forgetRecords();
        if (!test::echoing()) return;
        std::string outcome;
        for (const auto& line :
             trace::TraceReader(viewerProc.mailslots(), reader.handle()).readAll())
            outcome += line + '\n';
        test::echoOutcome(outcome);
    }
};

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Fixture fx;
    Input in(data, size);
    auto& world = fx.world;
    auto& plugin = fx.plugin;
    const Hwnd pluginHwnd = fx.pluginHwnd, hostHwnd = fx.hostHwnd, otherHwnd = fx.otherHwnd;
    const auto baseline = world.live();
    {
        trace::Trace trace(plugin.mailslots(), plugin.clock(), plugin.process());
        trace.TraceOpen(false);
        host::XrayIfc xray(plugin.windows(), plugin.memory(), trace);
        {
            Quiet events;  // outlives the endpoint, which still traces when it ends
            host::clsPlugin endpoint(plugin, xray, trace);
            const Registration link = endpoint.attachEvents(events);
            endpoint.Hook(pluginHwnd, in.byte() & 1);
            const platform::MsgId im = xray.GetInterfaceMessage();
            auto& hw = fx.hostProc.windows();
            auto send = [&](Hwnd from, std::int32_t code, std::vector<std::byte> payload) {
                platform::CopyData cd{static_cast<std::uint32_t>(code),
                                      static_cast<std::uint32_t>(payload.size()),
                                      payload.empty() ? nullptr : payload.data()};
                hw.sendMessage(pluginHwnd, platform::wm::kCopyData, from,
                               reinterpret_cast<LParam>(&cd));
            };
            int steps = 0;
            while (!in.empty() && steps++ < 200) {
                const std::uint8_t op = in.byte();
                const std::uint8_t pick = in.byte();
                const Hwnd senders[] = {hostHwnd, otherHwnd, 0, pluginHwnd,
                                        static_cast<Hwnd>(in.u32())};
                const Hwnd sender = senders[pick % 5];
                switch (op % 8) {
                    case 0:
                    case 1: {  // a command; codes mostly near the protocol's
                        const std::int32_t code = (pick & 0x80)
                                                      ? static_cast<std::int32_t>(in.u32())
                                                      : static_cast<std::int32_t>(in.byte() % 40);
                        std::size_t len = in.byte();
                        if (len & 0x80) len = (len & 0x7F) * 32;
                        send(sender, code, in.bytes(len));
                        break;
                    }
                    case 2: {  // a well-formed command from the host
                        const std::int32_t codes[] = {2, 3, 4, 5, 6, 10, 11, 20, 22, 23, 30, 31};
                        send(hostHwnd, codes[pick % 12],
                             test::le32(platform::handleToRecord(hostHwnd)));
                        break;
                    }
                    case 3:
                        world.runUntilIdle();
                        break;
                    case 4:
                        endpoint.ProcessNextCommand();
                        break;
                    case 5:
                        hw.sendMessage(
                            pluginHwnd, im, sender,
                            static_cast<LParam>(static_cast<std::int32_t>(in.u32() % 3) - 1));
                        break;
                    case 6: {
                        const sim::Fault faults[] = {
                            sim::Fault::GlobalAlloc, sim::Fault::GlobalLock,
                            sim::Fault::PostMessage, sim::Fault::SendMessage,
                            sim::Fault::MailslotWrite};
                        world.failNth(faults[pick % 5], 1 + in.byte() % 3);
                        break;
                    }
                    case 7:
                        endpoint.SetStatus(static_cast<std::int32_t>(in.u32()), pick & 1,
                                           std::string(pick % 130, 'x'));
                        break;
                }
                require(xray.fifo().count() <= 39);
            }
            world.runUntilIdle();
            require(xray.fifo().count() <= 39);
        }
        fx.reset();
    }
    // The ring and every data copy it held are gone with the module, and so is the trace handle.
    require(world.live() == baseline);
    return 0;
}
