; Huawei SUN2000 inverters: holding registers, 16 and 32 bits, high word
; first.
Description=Huawei SUN2000, inverter
Source=Huawei SUN2000 MODBUS interface definitions (register map published by the maker)
Vendor=Huawei
Product=SUN2000
Line=3,32064+,3;PotenzaIngresso;kW
Line=3,32069&,1;TensioneL1;V
Line=3,32080+,3;Potenza;kW
Line=3,32085&,2;Frequenza;Hz
Line=3,32087,1;Temperatura;°C
Line=3,32106+&,2;EnergiaTotale;kWh
