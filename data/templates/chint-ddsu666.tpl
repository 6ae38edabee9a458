; Single-phase DIN-rail energy meter: holding registers, float32, most
; significant word first; power in kW.
Description=Chint DDSU666, contatore monofase
Source=Chint DDSU666 Modbus communication protocol (register map published by the maker)
Vendor=Chint
Product=DDSU666
Line=3,8192F,0;Tensione;V
Line=3,8194F,0;Corrente;A
Line=3,8196F,0;Potenza;kW
Line=3,8202F,0;FattorePotenza
Line=3,8206F,0;Frequenza;Hz
Line=3,16384F,0;EnergiaImportata;kWh
Line=3,16394F,0;EnergiaEsportata;kWh
