; Single-phase DIN-rail energy meter: input registers, float32, most
; significant word first.
Description=Eastron SDM120, contatore monofase
Source=Eastron SDM120 Modbus protocol (register map published by the maker)
Vendor=Eastron
Product=SDM120
Line=4,0F,0;Tensione;V
Line=4,6F,0;Corrente;A
Line=4,12F,0;Potenza;W
Line=4,30F,0;FattorePotenza
Line=4,70F,0;Frequenza;Hz
Line=4,72F,0;EnergiaImportata;kWh
Line=4,74F,0;EnergiaEsportata;kWh
Line=4,342F,0;EnergiaTotale;kWh
