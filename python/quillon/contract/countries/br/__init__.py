"""Brazil: CNPJ, state registrations (IE) and contract keyword screening."""
