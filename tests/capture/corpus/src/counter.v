// Icarus Verilog: a counter whose dump starts late, at 1 ns units.
`timescale 1ns/1ns
module counter_tb;
  reg clk = 0;
  reg [3:0] count = 0;
  always #1 clk = ~clk;
  always @(posedge clk) count <= count + 1;
  initial begin
    #40;
    $dumpfile("iverilog-late.vcd");
    $dumpvars(0, counter_tb);
    #100 $finish;
  end
endmodule
