; A three-phase (wye) meter with a SunSpec map at 40000: common model 1 of
; length 65, meter model 203 at 40069.
Description=Contatore SunSpec trifase (modelli 1 e 203 da 40000)
Source=SunSpec Alliance, information model 203 (public model definitions)
Line=3,40071N,@40075;Corrente;A
Line=3,40076N,@40084;Tensione;V
Line=3,40085N,@40086;Frequenza;Hz
Line=3,40087N,@40091;Potenza;W
Line=3,40107+&,@40123;EnergiaEsportata;Wh
Line=3,40115+&,@40123;EnergiaImportata;Wh
