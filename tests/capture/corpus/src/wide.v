// Icarus Verilog: more than 32 bits, a real, a named event, escaped and long names, the
// same name in two scopes, and a precision (1 ps) finer than the changes.
`timescale 1ns/1ps
module leaf(input wire clk, output reg q);
  initial q = 0;
  always @(posedge clk) q <= ~q;
endmodule
module wide_tb;
  reg clk = 0;
  reg [39:0] wide_bus = 40'h0;
  reg [7:0] \data$in = 8'h00;
  reg a_signal_with_a_long_name = 0;
  reg a_signal_with_a_long_name_too = 1;
  real level = 0.0;
  event tick;
  wire q1, q2;
  leaf u1(.clk(clk), .q(q1));
  leaf u2(.clk(~clk), .q(q2));
  always #50 clk = ~clk;
  always @(posedge clk) begin
    wide_bus <= wide_bus + 40'h0100000001;
    \data$in <= \data$in + 3;
    level <= level + 0.5;
    a_signal_with_a_long_name <= ~a_signal_with_a_long_name;
  end
  always @(negedge clk) begin
    a_signal_with_a_long_name_too <= ~a_signal_with_a_long_name_too;
    if (\data$in [0]) -> tick;
  end
  initial begin
    $dumpfile("iverilog-wide.vcd");
    $dumpvars(0, wide_tb);
    #2000 $finish;
  end
endmodule
