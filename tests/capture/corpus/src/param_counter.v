// A counter with a 32-bit parameter, which the C++ trace dumps next to the signals.
module param_counter #(parameter int WIDTH = 32'd6) (input clk, output reg [WIDTH-1:0] count);
  initial count = 0;
  always @(posedge clk) count <= count + 1;
endmodule
