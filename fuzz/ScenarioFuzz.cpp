// The simulator's scenario files, read from a file as lindprog-sim reads them.
// Tests and users write these by hand, so every mistake must end in a
// TScenarioError that names the field, never in another exception, a crash or
// a scenario the simulator then trips over.
//
// Rules: only TScenarioError leaves LoadScenarioFile, with a message; a
// scenario that loads shapes a reply for each of its faults, and every frame
// it does not mark as deliberately broken is a well-formed frame.

#include "fuzz/FuzzSupport.h"
#include "sim/Faults.h"
#include "sim/Scenario.h"
#include "sim/Wire.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace lindprog::fuzz {
namespace {

void CheckFrame(const std::vector<std::uint8_t>& frame)
{
    Expect(frame.size() >= sim::FrameOverhead && frame[0] == sim::FrameStart && frame[4] == sim::HeaderMark,
           "start byte and header mark");
    Expect(static_cast<std::size_t>(frame[2] << 8 | frame[3]) == frame.size() - sim::FrameOverhead,
           "the length field is the payload's length");
    Expect(sim::XorCheck(frame) == 0, "a good check byte");
}

} // namespace
} // namespace lindprog::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace lindprog;
    using namespace lindprog::fuzz;
    const TMemoryFile file(std::span(data, size));
    sim::TScenario scenario;
    try {
        scenario = sim::LoadScenarioFile(file.Path());
    } catch (const sim::TScenarioError& error) {
        Expect(error.what()[0] != '\0', "an error says what is wrong");
        return 0;
    }
    const std::uint8_t payload[] = {3, 0, 1, 18};
    for (const sim::TFaultSpec& fault : scenario.Faults) {
        const sim::TShapedReply reply = sim::ShapeReply(7, payload, &fault);
        for (const sim::TOutgoingFrame& frame : reply.Frames)
            if (!frame.Corrupted)
                CheckFrame(frame.Bytes);
    }
    return 0;
}
