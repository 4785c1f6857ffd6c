-- GHDL: std_logic's nine values (U, W, L, H, -), a vector, an integer; 1 fs units.
library ieee;
use ieee.std_logic_1164.all;
use ieee.numeric_std.all;

entity nine_values is
end entity;

architecture sim of nine_values is
  signal clk : std_logic := '0';
  signal weak : std_logic;  -- U until first driven
  signal bus8 : std_logic_vector(7 downto 0) := (others => 'U');
  signal count : integer range 0 to 255 := 0;
begin
  clk <= not clk after 10 ns when now < 400 ns;
  process
    constant values : std_logic_vector(0 to 8) := "UX01ZWLH-";
  begin
    wait for 25 ns;
    for i in values'range loop
      weak <= values(i);
      bus8 <= values(i) & std_logic_vector(to_unsigned(i, 7));
      wait for 40 ns;
    end loop;
    wait;
  end process;
  process (clk)
  begin
    if rising_edge(clk) then
      count <= (count + 1) mod 256;
    end if;
  end process;
end architecture;
