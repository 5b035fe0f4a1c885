^XA
^FX Vornix router label, 203 dpi (8 dots/mm), 4 x 2 inches: 812 x 406 dots.
^FX The fields in braces are filled by the station for each router that passes.
^CI28
^PW812
^LL406
^LH0,0
^FO30,24^A0N,44,44^FDVornix VX100 Router^FS
^FO30,84^A0N,30,30^FDS/N {SERIAL}^FS
^FO30,120^BY2,3^BCN,70,N,N,N^FD{SERIAL}^FS
^FO30,214^A0N,30,30^FDMAC {MAC}^FS
^FO30,250^BY2,3^BCN,70,N,N,N^FD{MAC}^FS
^FO30,344^A0N,22,22^FD{DATE}  {STATION}^FS
^FO590,60^BQN,2,6^FDMA,{SERIAL} {MAC}^FS
^FX A gang station's port, large: the label goes on that port's router. Empty on a one-port station.
^FO640,290^A0N,96,96^FD{PORT}^FS
^XZ
