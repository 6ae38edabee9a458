; A three-phase inverter with a SunSpec map at 40000: common model 1 of
; length 65, inverter model 103 at 40069 (the usual layout). Points that a
; device does not implement read empty (N).
Description=Inverter SunSpec trifase (modelli 1 e 103 da 40000)
Source=SunSpec Alliance, information model 103 (public model definitions)
Line=3,40071&N,@40075;Corrente;A
Line=3,40079&N,@40082;TensioneL1;V
Line=3,40080&N,@40082;TensioneL2;V
Line=3,40081&N,@40082;TensioneL3;V
Line=3,40083N,@40084;Potenza;W
Line=3,40085&N,@40086;Frequenza;Hz
Line=3,40093+&,@40095;Energia;Wh
Line=3,40102N,@40106;Temperatura;°C
Line=3,40107&N,0;Stato
