// Drives the verilated counter for 64 clock edges and traces it.
#include "Vparam_counter.h"
#include "verilated.h"
#include "verilated_vcd_c.h"

int main(int argc, char** argv) {
    Verilated::commandArgs(argc, argv);
    Verilated::traceEverOn(true);
    Vparam_counter top;
    VerilatedVcdC trace;
    top.trace(&trace, 99);
    trace.open("verilator.vcd");
    for (int t = 0; t < 64; ++t) {
        top.clk = t & 1;
        top.eval();
        trace.dump(t);
    }
    trace.close();
    top.final();
    return 0;
}
