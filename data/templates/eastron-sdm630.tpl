; Three-phase DIN-rail energy meter: input registers, float32, most
; significant word first.
Description=Eastron SDM630, contatore trifase
Source=Eastron SDM630 Modbus protocol (register map published by the maker)
Vendor=Eastron
Product=SDM630
Line=4,0F,0;TensioneL1;V
Line=4,2F,0;TensioneL2;V
Line=4,4F,0;TensioneL3;V
Line=4,6F,0;CorrenteL1;A
Line=4,8F,0;CorrenteL2;A
Line=4,10F,0;CorrenteL3;A
Line=4,52F,0;Potenza;W
Line=4,62F,0;FattorePotenza
Line=4,70F,0;Frequenza;Hz
Line=4,72F,0;EnergiaImportata;kWh
Line=4,74F,0;EnergiaEsportata;kWh
Line=4,342F,0;EnergiaTotale;kWh
