; Growatt string inverters (protocol for the inverter's RS-485 port): input
; registers, 16 and 32 bits, high word first.
Description=Growatt, inverter monofase (protocollo RS-485)
Source=Growatt PV inverter Modbus RS485 RTU protocol (register map published by the maker)
Vendor=Growatt
Product=Growatt
Line=4,0&,0;Stato
Line=4,1+&,1;PotenzaFV;W
Line=4,3&,1;TensioneFV1;V
Line=4,35+&,1;Potenza;W
Line=4,37&,2;Frequenza;Hz
Line=4,38&,1;Tensione;V
Line=4,53+&,1;EnergiaOggi;kWh
Line=4,55+&,1;EnergiaTotale;kWh
Line=4,93,1;Temperatura;°C
