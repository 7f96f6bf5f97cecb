#pragma once
// The device search as the setup program runs it: TDevice::SearchDevices of a main window (on
// the offscreen platform), its reports handled by the window thread, against a simulator.
#include "sim/instrument_sim.h"

struct WindowSearch {
    double seconds = 0;     // from the start of the worker to its end
    sim::LineStats stats;
    bool ok = false;        // the search ended and listed exactly the simulator's instrument
};

// Searches 0..255 at baud on simulator (one instrument, at found) through the window.
WindowSearch searchThroughWindow(sim::InstrumentSim &simulator, int baud, int found);
