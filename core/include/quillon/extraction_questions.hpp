// The three questions the contract checker asks the extraction engine: the
// companies, the signatories and the contract's general data.
#pragma once

#include <initializer_list>

namespace quillon::checker {

struct Question {
    const char* id;
    const char* name;
    std::initializer_list<const char*> keywords;
    const char* response_model;  // the host model that reads the answer
    const char* system_prompt;
    const char* user_prompt;
};

inline const Question kQuestions[] = {
    {"empresas",
     "Empresas do Contrato",
     {"cnpj", "contratante", "contratada", "inscrita", "razão social", "ltda", "s/a"},
     "ExtracaoEmpresas",
     "Você é um especialista em análise de contratos brasileiros.\n"
     "Extraia TODAS as empresas mencionadas com CNPJ, razão social e papel no contrato.\n\n"
     "REGRAS:\n"
     "1. CNPJ deve ter 14 dígitos (com ou sem formatação)\n"
     "2. Identifique claramente: contratante (quem paga) vs contratada (quem presta serviço)\n"
     "3. Extraia TODAS as empresas, incluindo intervenientes e fiadoras",
     "Analise o contrato e extraia todas as empresas:\n\n{texto}\n\n"
     "Para cada empresa extraia: CNPJ, razão social, nome fantasia, endereço e papel no contrato."},
    {"assinaturas",
     "Assinaturas do Contrato",
     {"assinatura", "assinado", "certificado", "representante", "testemunha", "cpf"},
     "ExtracaoAssinaturas",
     "Você é um especialista em análise de contratos.\n"
     "Extraia TODAS as pessoas físicas que assinaram ou são representantes.\n\n"
     "ONDE PROCURAR:\n"
     "1. Bloco de assinaturas no final\n"
     "2. Cláusula de representação legal\n"
     "3. Qualificação das partes\n"
     "4. Cláusula de NOTIFICAÇÕES\n"
     "5. Assinaturas digitais\n"
     "6. Testemunhas",
     "Extraia todas as pessoas físicas mencionadas como representantes:\n\n{texto}\n\n"
     "Para cada pessoa extraia: nome completo, cargo, CPF (se houver), empresa que representa."},
    {"dados_contrato",
     "Dados do Contrato",
     {"contrato", "objeto", "vigência", "valor", "cláusula", "foro"},
     "ExtracaoDadosContrato",
     "Você é um especialista em análise de contratos.\nExtraia os dados gerais do contrato.",
     "Extraia os dados gerais do contrato:\n\n{texto}\n\nExtraia: tipo de contrato, objeto, data, vigência, valor, foro."},
};

}  // namespace quillon::checker
