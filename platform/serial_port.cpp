// placeholder until this area is written
